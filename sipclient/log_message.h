// One log line carried from an engine thread to the component's thread.
#pragma once

#include <memory>
#include <string>
#include <utility>

class ILogMessage {
public:
    virtual ~ILogMessage() = default;
    virtual std::string GetText() = 0;
};
using ILogMessagePtr = std::shared_ptr<ILogMessage>;

class TLogMessage final : public ILogMessage {
public:
    explicit TLogMessage(std::string text) : Text_(std::move(text)) {}
    std::string GetText() override { return Text_; }

private:
    const std::string Text_;
};
