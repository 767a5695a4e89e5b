#include "app/ui/main_window.h"

#include <exception>
#include <mutex>

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTimer>

#include "app/booth/booth_texts.h"
#include "app/booth/call_clock.h"
#include "app/booth/call_rules.h"
#include "app/booth/sip_booth_line.h"
#include "app/counter/booth_session_watch.h"
#include "app/portal/portal.h"
#include "app/portal/portal_query.h"
#include "app/till/call_journal.h"
#include "app/till/call_recorder.h"
#include "app/shop/shop_replicator.h"
#include "app/till/journal_db.h"
#include "app/ui/about_box.h"
#include "app/ui/account_dialog.h"
#include "app/ui/audio_dialog.h"
#include "app/ui/booth_tray.h"
#include "app/ui/cash_close_window.h"
#include "app/ui/clickable_label.h"
#include "app/ui/message_boxes.h"
#include "sipclient/audio_devices.h"

TMainWindow::TMainWindow(const TProviderAddresses& addresses, TDeviceNameSource deviceNames, QWidget* parent)
    : QMainWindow(parent),
      Addresses_(addresses),
      DeviceNames_(std::move(deviceNames)),
      Client_(new TSipClient(this)),
      Portal_(new TPortal(addresses.PortalUrl, this)),
      Clock_(new TQtCallClock(this)),
      Line_(new TSipBoothLine(*Client_, this)),
      Rates_(*Portal_, [this] { return Account_; }),
      Flow_(new TBoothCallFlow(*Line_, Rates_, *Clock_, this)),
      PortalRetryTimer_(new QTimer(this)),
      SipRetryTimer_(new QTimer(this)),
      AudioDialog_(new TAudioDialog(this)),
      AccountDialog_(new TAccountDialog(this)),
      AboutBox_(new TAboutBox(this)),
      Tray_(new TBoothTray(this)),
      TrayAvailable_(&QSystemTrayIcon::isSystemTrayAvailable) {
    for (QTimer* timer : {PortalRetryTimer_, SipRetryTimer_}) timer->setSingleShot(true);
    connect(PortalRetryTimer_, &QTimer::timeout, this, &TMainWindow::ValidateAtStart);
    connect(SipRetryTimer_, &QTimer::timeout, this, &TMainWindow::RetryOnline);
    SetupAdminGuard();
    BuildLayout();
    SetupTill();
    SetupClient();
    SetupCallFlow();
    SetupCallGuards();
    SetupBalanceWatch();
    SetupCallEnd();
    SetupSessionGuard();
    ConnectDialogs();
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

// The close window reads the journal: it goes before the journal does.
TMainWindow::~TMainWindow() { delete CashClose_; }

void TMainWindow::SetupClient() {
    // Several booths on one PC (the shop's demonstration) each take a port
    // of their own: Sip/localport.
    const QSettings stored(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(kSettingsOrganization));
    Client_->SetLocalPort(stored.value(QStringLiteral("Sip/localport"), TSipClient::kDefaultLocalPort).toInt());
    Client_->SetRtpPortMin(22000);
    Client_->SetRtpPortMax(24000);
    Client_->SetDtmfMethod(dtmfInBand);
    Client_->SetSilenceThreshold(500);
    Client_->SetSilenceTimeout(5000);
    // A booth rings for its provider only: anyone else is refused 403.
    Client_->SetCallsFromServerOnly(true);
    Client_->SetMediaTimeout(Settings_.ReadMediaTimeout());
    Client_->SetCodecs(CodecPayloadTypes(Settings_.ReadCodecs()));
    // Files that cannot be used stop going on line with their reason shown.
    Client_->SetTlsCertificate(QFile::encodeName(Settings_.ReadTlsCertificate()).toStdString(),
                               QFile::encodeName(Settings_.ReadTlsKey()).toStdString());
    Client_->SetAudioDeviceFactory(DefaultAudioDeviceFactory());
    connect(Client_, &TSipClient::OnRegistrationOk, this, &TMainWindow::RegistrationOk);
    connect(Client_, &TSipClient::OnRegistrationBye, this, &TMainWindow::RegistrationBye);
    // No OnInvite handler: an incoming call keeps ringing until its caller
    // gives up. Answer and end of the booth's own call reach the flow
    // through the line.
    // A handler of ours that fails inside a component event is shown like
    // any other failed action.
    // A headset pulled out is said on the status bar (a far end gone
    // silent, with the call's end).
    connect(Client_, &TSipClient::OnAudioDevice, this, [this](TSipClient*, ISipCallPtr, bool present) {
        if (!present)
            ShowNote(QString::fromUtf8(kSpeakerLostText));
        else if (Panels_[1]->text() == QString::fromUtf8(kSpeakerLostText))
            ShowNote(QString());
    });
    connect(Client_, &TSipClient::HandlerError, this,
            [this](TSipClient*, const QString& text) { ShowError(this, text); });
}

void TMainWindow::SetRetryDelays(std::chrono::milliseconds first, std::chrono::milliseconds ceiling) {
    PortalRetry_ = TRetryDelay(first, ceiling);
    SipRetry_ = TRetryDelay(first, ceiling);
}

void TMainWindow::Start() {
    Account_ = Settings_.ReadAccount();
    FillDeviceList(*Speakers_, DeviceNames_(false), Account_.WaveOut);
    FillDeviceList(*Microphones_, DeviceNames_(true), Account_.WaveIn);
    if (Account_.Username.isEmpty() || Account_.Password.isEmpty()) AskForCredentials();
    if (SessionWatch_) SessionWatch_->Read();
    ValidateAtStart();
}

// Cancelled prompts give empty values, stored all the same: the next start
// asks again.
void TMainWindow::AskForCredentials() {
    const QString caption = QString::fromUtf8(kPromptCaption);
    Account_.Username = QInputDialog::getText(this, caption, QString::fromUtf8(kAccountPromptText));
    Account_.Password =
        QInputDialog::getText(this, caption, QString::fromUtf8(kPasswordPromptText), QLineEdit::Password);
    Settings_.WriteCredentials(Account_.Username, Account_.Password);
}

// The window is shown meanwhile; the answer comes through the event loop.
// While the portal stays away the note says so, not that it is validating.
void TMainWindow::ValidateAtStart() {
    if (Panels_[1]->text() != QString::fromUtf8(kPortalDownText)) ShowNote(QString::fromUtf8(kValidatingText));
    Portal_->ValidateAtStart(Account_.Username, Account_.Password, Panels_[2]->text(), this,
                             [this](const std::optional<TValidationReply>& reply) {
                                 StartValidated(reply);
                                 emit ValidationDone();
                             });
}

// A portal out of reach is asked again after a wait that grows each time.
// Any later failure (an engine that cannot start, a version that is no
// number) ends the step where it happened; what was already shown stays.
void TMainWindow::StartValidated(const std::optional<TValidationReply>& reply) {
    if (!reply) {
        ShowNote(QString::fromUtf8(kPortalDownText));
        PortalRetryTimer_->start(PortalRetry_.Next());
        return;
    }
    PortalRetry_.Reset();
    if (reply->Refused()) {
        RefuseAccount();
        return;
    }
    ShowNote(QString());
    try {
        GoOnline();
    } catch (const std::exception& error) {
        ShowNote(QString::fromUtf8(error.what()));
    }
    AccountValue_->setText(reply->Display);
    ShowMoney(Balance_, reply->Balance);
    Guards_->BalanceRefreshed(reply->Balance);
    ShowRegister(reply->Calls);
    try {
        if (IsNewerVersion(reply->Version, VersionDigits(Panels_[2]->text())) &&
            AskYesNo(this, QString::fromUtf8(kUpdateQuestionText)))
            QDesktopServices::openUrl(DownloadUrl(Addresses_.WebUrl));
    } catch (const std::exception&) {
    }
}

void TMainWindow::ShowRegister(const TCallRegister& calls) {
    for (int row = 0; row < static_cast<int>(calls.size()); ++row) {
        const TRegisterRow& call = calls[row];
        const QString cells[] = {call.When, call.Number, call.Destination, call.Duration, call.Total};
        for (int column = 0; column < 5; ++column)
            Register_->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    FitRegisterColumns();
}

void TMainWindow::ShowMoney(QLabel* label, TMoney amount) {
    label->setText(FormatCurrency(amount, MoneyLocale(locale())));
}

// An empty text gives the panel its standing line back, or says the journal
// is not recording when it is not. A note in red (a far-end flag, see
// main_window_guards.cpp) is black again once another note takes its place.
void TMainWindow::ShowNote(const QString& text) {
    // A closed booth keeps saying so while nothing else is to be said.
    const QString closed = (Flow_ && Flow_->IsOpen()) ? QString() : SessionRefusal();
    if (!text.isEmpty())
        Panels_[1]->setText(text);
    else if (!closed.isEmpty())
        Panels_[1]->setText(closed);
    else
        Panels_[1]->setText(JournalWarning_.isEmpty() ? QString::fromUtf8(kStatusLineText) : JournalWarning_);
    Panels_[1]->setStyleSheet(text.isEmpty() && !closed.isEmpty() ? QStringLiteral("color: red; font-weight: bold")
                                                                  : QString());
}

namespace {

// A stored value the booth does not know (a hand-edited file) must not keep
// it off line: it falls back to UDP, the provider's usual transport.
TSignallingTransport BoothTransport(const QString& stored) {
    try {
        return stored.isEmpty() ? TSignallingTransport::kUdp : ParseSignallingTransport(stored.toStdString());
    } catch (const std::invalid_argument&) {
        return TSignallingTransport::kUdp;
    }
}

}  // namespace

void TMainWindow::GoOnline() {
    WantOnline_ = true;
    SipRetryTimer_->stop();
    if (!Client_->GetActive()) Client_->SetActive(true);
    // The proxy is the server's host; the account sends to it on the
    // server's port.
    const std::string server = Addresses_.SipServer.toStdString();
    const std::string proxy = Addresses_.SipServer.section(QLatin1Char(':'), 0, 0).toStdString();
    SipAccount_ = Client_->AddAccount(server, Account_.Username.toStdString(), Account_.Password.toStdString(),
                                      proxy, std::string());
    SipAccount_->SetTransport(BoothTransport(Settings_.ReadTransport()));
    SipAccount_->SetTlsCaFile(QFile::encodeName(Settings_.ReadTlsCaFile()).toStdString());
    SipAccount_->SetExpires(kRegistrationExpiry);
    SipAccount_->SetDisplayName(kLineDisplayName);
    Client_->RegisterAccount(SipAccount_);
    RegisterClock_.start();
    Line_->SetAccount(SipAccount_);
}

void TMainWindow::GoOffline() {
    WantOnline_ = false;
    SipRetryTimer_->stop();
    Client_->UnregisterAccount(SipAccount_);
}

// Events of an account the window has replaced (after "&Desconectado" and
// "&En Linea") say nothing about the current one and are passed over.
void TMainWindow::RegistrationOk(TSipClient*, ISipAccountPtr account) {
    if (account != SipAccount_) return;
    SipRetry_.Reset();
    const QString note = Panels_[1]->text();
    if (note == QString::fromUtf8(kSipServerSilentText) || note == QString::fromUtf8(kAccountRefusedText))
        ShowNote(QString());
    ShowOnline(true);
}

void TMainWindow::RegistrationBye(TSipClient*, ISipAccountPtr account) {
    if (account != SipAccount_) return;
    ShowOnline(false);
    if (WantOnline_) RegistrationFailed(account);
}

// A registrar that answers our credentials with a refusal does so at once
// and leaves the challenge's status on the account; one that never answers
// is given up by the engine only after its wait (20 s). Anything else, a
// refresh of the engine's own included, reads as the server not answering.
void TMainWindow::RegistrationFailed(const ISipAccountPtr& account) {
    constexpr qint64 kRefusalMs = 10000;
    bool refused = false;
    if (RegisterClock_.isValid() && RegisterClock_.elapsed() < kRefusalMs) {
        // The engine changes the account's fields under its lock.
        std::lock_guard<ISipAccount> guard(*account);
        refused = !account->GetAuthStatus().empty();
    }
    ShowNote(QString::fromUtf8(refused ? kAccountRefusedText : kSipServerSilentText));
    SipRetryTimer_->start(SipRetry_.Next());
}

// The same account registers again: a new one per attempt would pile up in
// the engine.
void TMainWindow::RetryOnline() {
    if (!WantOnline_ || !SipAccount_) return;
    try {
        Client_->RegisterAccount(SipAccount_);
        RegisterClock_.start();
    } catch (const std::exception& error) {
        ShowNote(QString::fromUtf8(error.what()));
        SipRetryTimer_->start(SipRetry_.Next());
    }
}

void TMainWindow::ShowOnline(bool online) {
    Online_ = online;
    (online ? OnlineAction_ : OfflineAction_)->setChecked(true);
    UpdateCallButton();
    Panels_[0]->setText(QString::fromUtf8(online ? kOnlineText : kOfflineText));
}

void TMainWindow::Guarded(const std::function<void()>& action) {
    // The radio items follow the registration events, not the clicks.
    const bool shownOnline = Panels_[0]->text() == QString::fromUtf8(kOnlineText);
    (shownOnline ? OnlineAction_ : OfflineAction_)->setChecked(true);
    try {
        action();
    } catch (const std::exception& error) {
        ShowError(this, QString::fromUtf8(error.what()));
    }
}

void TMainWindow::KeypadClicked() {
    const auto* key = qobject_cast<QPushButton*>(sender());
    if (!key) return;
    if (!Line_->SendDigit(key->text())) Number_->setText(Number_->text() + key->text());
}

void TMainWindow::ClearClicked() {
    Number_->clear();
    Number_->setFocus();
}

// A browser would take the customer out of the booth's window.
void TMainWindow::OpenWebSite() {
    if (KioskAllows()) QDesktopServices::openUrl(WebRootUrl(Addresses_.WebUrl));
}

// The portal asks for the password itself: an address that is opened ends
// up in the browser's history.
void TMainWindow::OpenCallDetail() {
    if (KioskAllows()) QDesktopServices::openUrl(Portal_->CallDetailLink(Account_.Username));
}

void TMainWindow::ShowWindow() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void TMainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    Number_->setFocus();
}

void TMainWindow::closeEvent(QCloseEvent* event) {
    if (ShuttingDown_) {
        event->accept();
        return;
    }
    if (!CloseConfirmed_ && !ConfirmAndEndCall()) {
        event->ignore();
        return;
    }
    CloseConfirmed_ = true;
    SaveOnClose();
    event->accept();
}

// The closing question; on Yes the call timer stops and a call of ours is
// hung up (an incoming call still ringing is not ours to end). With an
// administrator PIN set, closing asks for it first; in kiosk mode the PIN
// is the closing question.
bool TMainWindow::ConfirmAndEndCall() {
    if (!AdminAllows()) return false;
    if (!(AdminPin_.IsSet() && AdminPin_.KioskMode()) && !AskYesNo(this, QuitQuestion())) return false;
    EndCallForClose();
    return true;
}

void TMainWindow::EndCallForClose() {
    Clock_->StopTicks();
    try {
        End_->ProgramClosing();
    } catch (const std::exception& error) {
        if (!ShuttingDown_) ShowError(this, QString::fromUtf8(error.what()));
    }
}

// Nobody is asked: the session or the system is going away. The call is
// hung up and the account unregistered while the engine can still answer
// the registrar (a challenge to the un-REGISTER included); the journal
// closes with the window once the event loop has returned.
void TMainWindow::ShutDown() {
    if (ShuttingDown_) return;
    ShuttingDown_ = true;
    CloseConfirmed_ = true;
    WantOnline_ = false;
    PortalRetryTimer_->stop();
    SipRetryTimer_->stop();
    EndCallForClose();
    const bool registered = Online_;
    SaveOnClose();
    if (!registered) return;
    QEventLoop wait;
    connect(Client_, &TSipClient::OnRegistrationBye, &wait, &QEventLoop::quit);
    QTimer::singleShot(kShutDownWait, &wait, &QEventLoop::quit);
    wait.exec();
}

// During a call the operator is told which call would be cut and what it
// has cost so far.
QString TMainWindow::QuitQuestion() const {
    const QString question = QString::fromUtf8(kQuitQuestionText);
    if (!Flow_->IsOpen()) return question;
    const std::optional<TMoney>& cost = Flow_->Charge().Cost;
    const QString shown = cost ? FormatCurrency(*cost, MoneyLocale(locale()))
                          : Flow_->Rate() ? FormatCurrency(TMoney{}, MoneyLocale(locale()))
                                          : QString::fromUtf8(kRateUnavailableText);
    return QString::fromUtf8(kCallRunningText).arg(Flow_->Typed(), shown) + QLatin1Char('\n') + question;
}

// Once only: a close followed by the program's end must not unregister
// twice.
void TMainWindow::SaveOnClose() {
    if (Saved_) return;
    Saved_ = true;
    try {
        if (SipAccount_) Client_->UnregisterAccount(SipAccount_);
    } catch (const std::exception&) {
        // An engine that never started has nothing to unregister.
    }
    Account_.WaveIn = Microphones_->currentText();
    Account_.WaveOut = Speakers_->currentText();
    Settings_.WriteAccount(Account_);
}
