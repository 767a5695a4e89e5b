// The commands and events that deal with several calls by number: adopting
// a new call, its bye line, `calls`, `hangup [N]`, `reject`, the far end's
// transfer requests with `accept-transfer N` and `refuse-transfer N`, and how
// a transfer ended.
#include <climits>
#include <stdexcept>

#include "media/audio_devices.h"
#include "tools/softphone_cli/cli_agent.h"

namespace {

bool EndsWithWav(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0;
}

}  // namespace

void TCliAgent::ConnectTransferEvents() {
    connect(&Client_, &TSipClient::OnTransferStatus, this,
            [this](TSipClient*, ISipCallPtr call, int status) {
                const std::string number = std::to_string(Calls_.NumberOf(call));
                if (status >= 200 && status < 300) {
                    // A finished transfer ends the call: this line is its last.
                    if (Calls_.Note(call, TCallNote::kTransferred))
                        Print("transferred " + number);
                } else {
                    Print("transfer-failed " + number + " " + StatusWithReason(std::to_string(status)));
                }
            });
    connect(&Client_, &TSipClient::OnTransferRequest, this,
            [this](TSipClient*, ISipCallPtr call, const QString& target) {
                AdoptUnknownCall(call);
                Print("transfer-request " + std::to_string(Calls_.NumberOf(call)) + " " +
                      target.toStdString());
                if (Options_.acceptTransfers)
                    Client_.AcceptTransfer(call);
            });
}

void TCliAgent::AnswerTransfer(const std::string& name, const std::string& argument) {
    if (argument.empty())
        throw std::invalid_argument(name + " needs a call number");
    const int number = ParseBoundedInt(argument, 1, INT_MAX, "call number");
    const ISipCallPtr call = Calls_.Find(number);
    if (!call)
        throw std::runtime_error("no call " + argument);
    if (name == "accept-transfer")
        Client_.AcceptTransfer(call);
    else
        Client_.RefuseTransfer(call);
}

int TCliAgent::SpeakerDeviceFor(int number) const {
    if (!EndsWithWav(Options_.speaker))
        return media::kDefaultAudioDevice;  // the environment names the device
    return media::FindWaveOutDevice(NumberedWavName(Options_.speaker, number));
}

int TCliAgent::AdoptCall(const ISipCallPtr& call, bool waits) {
    const int number = Calls_.Add(call, waits);
    if (EndsWithWav(Options_.speaker))
        call->SetSpeakerDevice(SpeakerDeviceFor(number));
    return number;
}

void TCliAgent::AdoptUnknownCall(const ISipCallPtr& call) {
    if (Calls_.NumberOf(call) == 0 && call->GetState() != csIdle)
        AdoptCall(call);
}

void TCliAgent::PrintBye(const ISipCallPtr& call) {
    ForgetWaiting(call);
    const int number = Calls_.NumberOf(call);
    if (number == 0)
        return;  // already reported (a rejected call)
    if (Calls_.Has(call, TCallNote::kTransferred)) {
        Calls_.Remove(call);  // `transferred N` said it
        return;
    }
    // Given up before it was answered: whatever the far end's last word (the
    // 200 to our CANCEL, or nothing when it never answered), the INVITE ended
    // as cancelled.
    const bool cancelled = Calls_.Has(call, TCallNote::kCancelled) && !Calls_.Has(call, TCallNote::kAnswered);
    const std::string status = cancelled ? "487" : call->GetStatusText();
    std::string line = "bye " + std::to_string(number);
    // Appended piece by piece: GCC 12's -Wrestrict misreads " " + string here.
    if (!status.empty()) {
        line += ' ';
        line += StatusWithReason(status);
    }
    Print(line);
    Calls_.Remove(call);
}

void TCliAgent::RejectCall(const ISipCallPtr& call) {
    Client_.Reject(call);
    ForgetWaiting(call);
    const int number = Calls_.NumberOf(call);
    if (number == 0)
        return;
    Print("bye " + std::to_string(number) + " " + StatusWithReason("486"));
    Calls_.Remove(call);
}

void TCliAgent::ListCalls() const {
    if (Calls_.Empty()) {
        Print("no calls");
        return;
    }
    for (const auto& [number, call] : Calls_.All()) {
        std::string line = "call " + std::to_string(number) + " " +
                           CallStateName(call->GetState()) + " " + call->GetTarget();
        if (call == Calls_.Current())
            line += " current";
        Print(line);
    }
}

void TCliAgent::HangUpCommand(const std::string& argument) {
    ISipCallPtr call;
    if (argument.empty()) {
        call = RequireCall();
    } else {
        const int number = ParseBoundedInt(argument, 1, INT_MAX, "call number");
        call = Calls_.Find(number);
        if (!call)
            throw std::runtime_error("no call " + argument);
    }
    if (call->GetIncoming() && call->GetState() == csRinging) {
        RejectCall(call);
        return;
    }
    if (!call->GetIncoming() && !Calls_.Has(call, TCallNote::kAnswered))
        Calls_.Note(call, TCallNote::kCancelled);
    Client_.HangUp(call);
}

void TCliAgent::AnswerCall(const ISipCallPtr& call) {
    Client_.Answer(call);
    PrintAnswered(call);
}

void TCliAgent::PrintAnswered(const ISipCallPtr& call) {
    if (Calls_.Note(call, TCallNote::kAnswered))
        Print("answered " + std::to_string(Calls_.NumberOf(call)) + (call->GetCrypto().Agreed() ? " srtp" : ""));
}
