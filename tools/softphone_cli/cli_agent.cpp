#include "tools/softphone_cli/cli_agent.h"

#include <cstdio>
#include <iostream>
#include <stdexcept>

namespace {

// Bound on the wait for the BYE and unregistration answers when leaving.
constexpr int kQuitWaitMs = 3000;
constexpr int64_t kFrameBytes = 320;

// The call's current sound has played to its end. A call repeats its
// "sound stopped" notice until another sound is set, so notices of an earlier
// sound can arrive after the next one started: they are told apart by
// looking at the sound now set.
bool CurrentSoundEnded(const ISipCallPtr& call) {
    const IWavFilePtr wav = call->GetWavFile();
    return !wav || wav->GetSize() < wav->GetPosition() + kFrameBytes;
}

}  // namespace

TCliAgent::TCliAgent(const TCliOptions& options, QObject* parent)
    : QObject(parent), Options_(options) {
    Client_.SetLocalPort(options.localPort);
    Client_.SetRtpPortMin(options.rtpPortMin);
    Client_.SetRtpPortMax(options.rtpPortMax);
    Client_.SetDtmfMethod(options.dtmf);
    Client_.SetCallsFromServerOnly(options.callsFromServerOnly);
    Client_.SetMediaTimeout(options.mediaTimeoutSeconds);
    Client_.SetCodecs(options.codecs);
    Client_.SetTlsCertificate(options.tlsCertificateFile, options.tlsKeyFile);
    PauseTimer_.setSingleShot(true);
    connect(&PauseTimer_, &QTimer::timeout, this, [this] {
        Paused_ = false;
        RunQueue();
    });
    QuitTimer_.setSingleShot(true);
    connect(&QuitTimer_, &QTimer::timeout, this, &TCliAgent::FinishQuit);
    ConnectEvents();
}

void TCliAgent::Start() {
    try {
        Client_.SetActive(true);
    } catch (const std::exception& e) {
        throw std::runtime_error("SIP port " + std::to_string(Options_.localPort) + ": " + e.what());
    }
    if (Options_.server.empty())
        return;
    Account_ = Client_.AddAccount(Options_.server, Options_.user, Options_.password,
                                  Options_.proxy, Options_.stun);
    Account_->SetTransport(Options_.transport);
    Account_->SetTlsCaFile(Options_.tlsCaFile);
    if (!Options_.displayName.empty())
        Account_->SetDisplayName(Options_.displayName);
    if (Options_.expires > 0)
        Account_->SetExpires(Options_.expires);
}

void TCliAgent::Print(const std::string& line) {
    std::cout << line << std::endl;  // endl: scripts wait on each line
}

void TCliAgent::PrintError(const std::string& text) {
    std::cerr << "error: " << text << std::endl;
}

void TCliAgent::ConnectEvents() {
    connect(&Client_, &TSipClient::OnLog, this, [this](TSipClient*, const QString& text) {
        const std::string raw = text.toStdString();
        OnReceivedText(raw);
        if (Options_.log)
            std::cerr << raw << std::endl;
    });
    connect(&Client_, &TSipClient::OnRegistrationOk, this, [this](TSipClient*, ISipAccountPtr) {
        Registered_ = true;
        Print("registered");
    });
    connect(&Client_, &TSipClient::OnRegistrationBye, this, [this](TSipClient*, ISipAccountPtr account) {
        const bool wasRegistered = Registered_;
        Registered_ = false;
        if (Unregistering_) {
            // Once, and only when there was a registration to end.
            if (wasRegistered)
                Print("unregistered");
            CheckQuitDone();
            return;
        }
        // Why, when the registrar refused or never answered.
        const std::string reason = account ? account->GetRenewal().lostReason : std::string();
        Print(reason.empty() ? "registration-lost" : "registration-lost " + reason);
        CheckQuitDone();
    });
    connect(&Client_, &TSipClient::OnInvite, this,
            [this](TSipClient*, ISipCallPtr call) { OfferIncoming(call); });
    connect(&Client_, &TSipClient::OnRingback, this, [this](TSipClient*, ISipCallPtr call) {
        AdoptUnknownCall(call);
        Calls_.Note(call, TCallNote::kProgress);
        Print("ringback");
    });
    connect(&Client_, &TSipClient::OnInviteOk, this, [this](TSipClient*, ISipCallPtr call) {
        AdoptUnknownCall(call);
        Calls_.Note(call, TCallNote::kProgress);
        // The answers to hold and resume come here too: a call is answered once.
        PrintAnswered(call);
    });
    connect(&Client_, &TSipClient::OnDtmf, this,
            [](TSipClient*, ISipCallPtr, const QString& digit) { Print("dtmf " + digit.toStdString()); });
    connect(&Client_, &TSipClient::OnSilence, this, [](TSipClient*, ISipCallPtr) { Print("silence"); });
    connect(&Client_, &TSipClient::OnWavStopped, this, [this](TSipClient*, ISipCallPtr call) {
        // The call repeats this on every frame until another sound is set.
        if (!SoundPending_ || call != Calls_.Current() || !CurrentSoundEnded(call))
            return;
        SoundPending_ = false;
        Print("wav-stopped");
    });
    connect(&Client_, &TSipClient::OnBye, this, [this](TSipClient*, ISipCallPtr call) {
        // A call whose bye was printed already (a rejected one) has no more to say.
        if (Calls_.NumberOf(call) != 0)
            PrintStats(call);
        PrintBye(call);
        CheckQuitDone();
    });
    connect(&Client_, &TSipClient::OnAudioDevice, this, [this](TSipClient*, ISipCallPtr call, bool present) {
        const int number = Calls_.NumberOf(call);
        Print(std::string(present ? "audio-device-back" : "audio-device-lost") +
              (number != 0 ? " " + std::to_string(number) : std::string()));
    });
    ConnectMessageEvents();
    ConnectTransferEvents();
    connect(&Client_, &TSipClient::HandlerError, this,
            [](TSipClient*, const QString& text) { PrintError(text.toStdString()); });
}

void TCliAgent::PrintStats(const ISipCallPtr& call) {
    Print("stats " + TSipClient::GetCallQuality(call).Text());
}

void TCliAgent::Quit() {
    Quitting_ = true;
    Queue_.clear();
    // Every call ends, not only the current one; a copy, as ending one may
    // take it off the list at once. Waiting calls are refused busy.
    while (!Waiting_.empty())
        RefuseWaiting(Waiting_.begin()->first);
    const auto calls = Calls_.All();
    for (const auto& [number, call] : calls) {
        try {
            if (call->GetState() == csIdle)
                Calls_.Remove(call);
            else
                HangUpCommand(std::to_string(number));
        } catch (const std::exception& e) {
            PrintError(e.what());
            Calls_.Remove(call);
        }
    }
    if (Account_ && Registered_) {
        Unregistering_ = true;
        try {
            Client_.UnregisterAccount(Account_);
        } catch (const std::exception& e) {
            PrintError(e.what());
            Registered_ = false;
        }
    }
    QuitTimer_.start(kQuitWaitMs);
    CheckQuitDone();
}

void TCliAgent::FinishQuit() {
    const auto calls = Calls_.All();
    for (const auto& [number, call] : calls)
        PrintBye(call);
    emit Finished();
}

void TCliAgent::CheckQuitDone() {
    if (Quitting_ && Calls_.Empty() && !Registered_) {
        QuitTimer_.stop();
        emit Finished();
    }
}
