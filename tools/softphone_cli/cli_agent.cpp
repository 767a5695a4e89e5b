#include "tools/softphone_cli/cli_agent.h"

#include <cstdio>
#include <iostream>

namespace {

// Bound on the wait for the BYE and unregistration answers when leaving.
constexpr int kQuitWaitMs = 3000;

}  // namespace

TCliAgent::TCliAgent(const TCliOptions& options, QObject* parent)
    : QObject(parent), Options_(options) {
    Client_.SetLocalPort(options.localPort);
    Client_.SetRtpPortMin(options.rtpPortMin);
    Client_.SetRtpPortMax(options.rtpPortMax);
    Client_.SetDtmfMethod(options.dtmf);
    PauseTimer_.setSingleShot(true);
    connect(&PauseTimer_, &QTimer::timeout, this, [this] {
        Paused_ = false;
        RunQueue();
    });
    QuitTimer_.setSingleShot(true);
    connect(&QuitTimer_, &QTimer::timeout, this, &TCliAgent::Finished);
    ConnectEvents();
}

void TCliAgent::Start() {
    Client_.SetActive(true);
    if (Options_.server.empty())
        return;
    Account_ = Client_.AddAccount(Options_.server, Options_.user, Options_.password,
                                  Options_.proxy, Options_.stun);
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
        if (Options_.log)
            std::cerr << text.toStdString() << std::endl;
    });
    connect(&Client_, &TSipClient::OnRegistrationOk, this, [this](TSipClient*, ISipAccountPtr) {
        Registered_ = true;
        Print("registered");
    });
    connect(&Client_, &TSipClient::OnRegistrationBye, this, [this](TSipClient*, ISipAccountPtr account) {
        Registered_ = false;
        // Why, when the registrar refused or never answered.
        const std::string reason = account ? account->GetRenewal().lostReason : std::string();
        Print(reason.empty() ? "registration-lost" : "registration-lost " + reason);
        CheckQuitDone();
    });
    connect(&Client_, &TSipClient::OnInvite, this,
            [this](TSipClient*, ISipCallPtr call) { OfferIncoming(call); });
    connect(&Client_, &TSipClient::OnRingback, this, [](TSipClient*, ISipCallPtr) {
        Print("ringback");
    });
    connect(&Client_, &TSipClient::OnInviteOk, this, [](TSipClient*, ISipCallPtr) {
        Print("answered");
    });
    connect(&Client_, &TSipClient::OnDtmf, this,
            [](TSipClient*, ISipCallPtr, const QString& digit) { Print("dtmf " + digit.toStdString()); });
    connect(&Client_, &TSipClient::OnSilence, this, [](TSipClient*, ISipCallPtr) { Print("silence"); });
    connect(&Client_, &TSipClient::OnWavStopped, this, [this](TSipClient*, ISipCallPtr) {
        // The call repeats this on every frame until another sound is set.
        if (!SoundPending_)
            return;
        SoundPending_ = false;
        Print("wav-stopped");
    });
    connect(&Client_, &TSipClient::OnBye, this, [this](TSipClient*, ISipCallPtr call) {
        const std::string status = call->GetStatusText();
        Print(status.empty() ? "bye" : "bye " + status);
        if (call == Call_)
            Call_.reset();
        ForgetWaiting(call);
        CheckQuitDone();
    });
    connect(&Client_, &TSipClient::HandlerError, this,
            [](TSipClient*, const QString& text) { PrintError(text.toStdString()); });
}

void TCliAgent::Quit() {
    Quitting_ = true;
    Queue_.clear();
    while (!Waiting_.empty())
        RefuseWaiting(Waiting_.begin()->first);
    if (Call_ && Call_->GetState() != csIdle) {
        try {
            Client_.HangUp(Call_);
        } catch (const std::exception& e) {
            PrintError(e.what());
            Call_.reset();
        }
    } else {
        Call_.reset();
    }
    if (Account_ && Registered_) {
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

void TCliAgent::CheckQuitDone() {
    if (Quitting_ && !Call_ && !Registered_) {
        QuitTimer_.stop();
        emit Finished();
    }
}
