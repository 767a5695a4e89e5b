// The commands of softphone-cli: one per input line, run in order; "wait"
// and multi-digit "dtmf" pause the queue while events go on arriving.
#include <cctype>
#include <cmath>
#include <stdexcept>

#include "tools/softphone_cli/cli_agent.h"
#include "tools/softphone_cli/cli_options.h"

namespace {

// Space between digits sent one at a time: a keypad tone lasts 350 ms.
constexpr int kDigitSpacingMs = 400;
// A receiver ignores an in-band tone that starts within 250 ms of the last
// frame of the previous one, so in-band digits need the tone, that quiet
// time and a margin for packet jitter.
constexpr int kInBandDigitSpacingMs = 350 + 250 + 150;

struct TCommandLine {
    std::string name;
    std::string argument;  // the rest of the line, leading blanks removed
};

TCommandLine SplitCommand(const std::string& line) {
    const auto begin = line.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    const auto end = line.find_first_of(" \t", begin);
    TCommandLine command;
    command.name = line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    if (end != std::string::npos) {
        const auto rest = line.find_first_not_of(" \t", end);
        if (rest != std::string::npos)
            command.argument = line.substr(rest);
    }
    while (!command.argument.empty() && std::isspace(static_cast<unsigned char>(command.argument.back())))
        command.argument.pop_back();
    return command;
}

void RequireArgument(const TCommandLine& command, const char* what) {
    if (command.argument.empty())
        throw std::invalid_argument(command.name + " needs " + what);
}

void RequireNoArgument(const TCommandLine& command) {
    if (!command.argument.empty())
        throw std::invalid_argument(command.name + " takes no argument");
}

int ParseSeconds(const std::string& text) {
    std::size_t used = 0;
    double seconds = -1;
    try {
        seconds = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || !std::isfinite(seconds) || seconds < 0 || seconds > 3600)
        throw std::invalid_argument("bad wait: \"" + text + "\" (expected 0 to 3600 seconds)");
    return static_cast<int>(std::lround(seconds * 1000));
}

}  // namespace

// Requests to the account's server: an error says which server it was.
template <typename Action>
void TCliAgent::TowardServer(Action&& action) {
    try {
        action();
    } catch (const std::exception& e) {
        if (Options_.server.empty())
            throw;
        std::string where = Options_.proxy.empty() ? Options_.server : Options_.proxy;
        if (where.find(':') == std::string::npos)
            where += ":5060";
        throw std::runtime_error(std::string(e.what()) + " (server " + where + ")");
    }
}

void TCliAgent::Enqueue(std::optional<std::string> line) {
    if (Quitting_)
        return;
    Queue_.push_back(std::move(line));
    RunQueue();
}

void TCliAgent::RunQueue() {
    while (!Paused_ && !Quitting_ && !Queue_.empty()) {
        std::optional<std::string> line = std::move(Queue_.front());
        Queue_.pop_front();
        if (!line) {
            Quit();
            return;
        }
        try {
            Execute(*line);
        } catch (const std::exception& e) {
            PrintError(e.what());
        }
    }
}

void TCliAgent::Pause(int milliseconds) {
    Paused_ = true;
    PauseTimer_.start(milliseconds);
}

ISipAccountPtr TCliAgent::RequireAccount() const {
    if (!Account_)
        throw std::runtime_error("no account: start with --server and --user");
    return Account_;
}

ISipCallPtr TCliAgent::RequireCall() const {
    ISipCallPtr call = Calls_.Current();
    if (!call)
        throw std::runtime_error("no current call");
    return call;
}

void TCliAgent::Execute(const std::string& line) {
    const TCommandLine command = SplitCommand(line);
    const std::string& name = command.name;
    if (name.empty() || name[0] == '#')
        return;  // blank lines and comments keep scripts readable
    if (name == "quit") {
        Quit();
    } else if (name == "wait") {
        RequireArgument(command, "SECONDS");
        Pause(ParseSeconds(command.argument));
    } else if (name == "register") {
        RequireNoArgument(command);
        Unregistering_ = false;
        TowardServer([&] { Client_.RegisterAccount(RequireAccount()); });
    } else if (name == "unregister") {
        RequireNoArgument(command);
        Unregistering_ = true;
        TowardServer([&] { Client_.UnregisterAccount(RequireAccount()); });
    } else if (name == "call") {
        RequireArgument(command, "NUMBER");
        const ISipAccountPtr account = RequireAccount();
        TowardServer([&] {
            const ISipCallPtr call = Client_.MakeCall(account, command.argument, -1,
                                                      SpeakerDeviceFor(Calls_.NextNumber()));
            AdoptCall(call);
            WatchProgress(call);
        });
    } else if (name == "stats") {
        RequireNoArgument(command);
        PrintStats(RequireCall());
    } else if (name == "message") {
        const TCommandLine message = SplitCommand(command.argument);
        if (message.name.empty() || message.argument.empty())
            throw std::invalid_argument("message needs USER TEXT");
        TowardServer([&] { Client_.SendMessage(RequireAccount(), message.name, message.argument); });
    } else if (name == "calls") {
        RequireNoArgument(command);
        ListCalls();
    } else if (name == "hangup") {
        HangUpCommand(command.argument);
    } else if (name == "accept-transfer" || name == "refuse-transfer") {
        AnswerTransfer(name, command.argument);
    } else {
        RunCallCommand(name, command.argument);
    }
}

void TCliAgent::RunCallCommand(const std::string& name, const std::string& argument) {
    if (name == "answer" && !argument.empty())
        return AnswerWaiting(argument);
    const bool needsArgument =
        name == "transfer" || name == "dtmf" || name == "play" || name == "say";
    const bool known = needsArgument || name == "answer" || name == "reject" ||
                       name == "hold" || name == "resume";
    if (!known)
        throw std::invalid_argument("unknown command: " + name);
    if (needsArgument && argument.empty())
        throw std::invalid_argument(name + " needs an argument");
    if (!needsArgument && !argument.empty())
        throw std::invalid_argument(name + " takes no argument");
    const ISipCallPtr call = RequireCall();
    if (name == "answer") AnswerCall(call);
    else if (name == "reject") RejectCall(call);
    else if (name == "hold") {
        Client_.Hold(call);
        Print("held");
    } else if (name == "resume") {
        Client_.Resume(call);
        Print("resumed");
    }
    else if (name == "transfer") Client_.Transfer(call, argument);
    else if (name == "dtmf") SendDigits(argument);
    else if (name == "play") PlaySound(call, argument);
    else SaySound(call, argument);
}

void TCliAgent::SendDigits(const std::string& digits) {
    for (const char digit : digits)
        if (std::string("0123456789*#ABCDabcd").find(digit) == std::string::npos)
            throw std::invalid_argument(std::string("bad DTMF digit: ") + digit);
    const ISipCallPtr call = RequireCall();
    if (Client_.GetDtmfMethod() == dtmfRFC2833) {
        Client_.SendDtmf(call, digits);  // the call queues the events itself
        return;
    }
    // One digit now; the rest go back to the front of the queue so that each
    // tone (or INFO) is spaced from the previous one.
    Client_.SendDtmf(call, digits.substr(0, 1));
    const bool inBand = Client_.GetDtmfMethod() == dtmfInBand;
    if (inBand)
        SoundPending_ = true;
    Pause(inBand ? kInBandDigitSpacingMs : kDigitSpacingMs);
    if (digits.size() > 1)
        Queue_.push_front("dtmf " + digits.substr(1));
}
