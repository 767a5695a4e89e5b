#include "tools/softphone_cli/stdin_reader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

TStdinReader::TStdinReader(std::function<void(std::optional<std::string>)> onLine)
    : OnLine_(std::move(onLine)), Thread_([this] { Run(); }) {}

TStdinReader::~TStdinReader() {
    Stop_ = true;
    Thread_.join();
}

void TStdinReader::Run() {
    std::string pending;
    char buffer[4096];
    while (!Stop_) {
        // A bounded wait so that a stop request is seen within 100 ms.
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&fd, 1, 100);
        if (ready == 0 || (ready < 0 && errno == EINTR))
            continue;
        const ssize_t count = ready < 0 ? -1 : ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        pending.append(buffer, static_cast<std::size_t>(count));
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            OnLine_(std::move(line));
        }
    }
    if (Stop_)
        return;
    if (!pending.empty())
        OnLine_(std::move(pending));
    OnLine_(std::nullopt);
}
