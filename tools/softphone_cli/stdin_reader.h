// Reads standard input on its own thread and hands each line, then the end
// of input, to a callback that must only queue work (it runs on the reader
// thread). The destructor stops and joins the thread even while standard
// input stays open.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

class TStdinReader {
public:
    // `onLine(text)` per line, then `onLine(std::nullopt)` once at the end.
    explicit TStdinReader(std::function<void(std::optional<std::string>)> onLine);
    ~TStdinReader();
    TStdinReader(const TStdinReader&) = delete;
    TStdinReader& operator=(const TStdinReader&) = delete;

private:
    void Run();

    std::function<void(std::optional<std::string>)> OnLine_;
    std::atomic<bool> Stop_{false};
    std::thread Thread_;
};
