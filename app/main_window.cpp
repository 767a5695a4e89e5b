#include "app/main_window.h"

#include <exception>

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTimer>

#include "app/about_box.h"
#include "app/account_dialog.h"
#include "app/audio_dialog.h"
#include "app/booth_texts.h"
#include "app/booth_tray.h"
#include "app/call_rules.h"
#include "app/clickable_label.h"
#include "app/message_boxes.h"
#include "app/portal.h"
#include "app/portal_query.h"
#include "sipclient/audio_devices.h"

TMainWindow::TMainWindow(const TProviderAddresses& addresses, TDeviceNameSource deviceNames, QWidget* parent)
    : QMainWindow(parent),
      Addresses_(addresses),
      DeviceNames_(std::move(deviceNames)),
      Client_(new TSipClient(this)),
      Portal_(new TPortal(addresses.PortalUrl, this)),
      CallTimer_(new QTimer(this)),
      AudioDialog_(new TAudioDialog(this)),
      AccountDialog_(new TAccountDialog(this)),
      AboutBox_(new TAboutBox(this)),
      Tray_(new TBoothTray(this)),
      TrayAvailable_(&QSystemTrayIcon::isSystemTrayAvailable) {
    CallTimer_->setObjectName(QStringLiteral("callTimer"));
    CallTimer_->setInterval(1000);
    connect(CallTimer_, &QTimer::timeout, this, &TMainWindow::TimerTick);
    SetupAdminGuard();
    BuildLayout();
    SetupClient();
    SetupCallGuards();
    ConnectDialogs();
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TMainWindow::~TMainWindow() = default;

void TMainWindow::SetupClient() {
    Client_->SetLocalPort(TSipClient::kDefaultLocalPort);
    Client_->SetRtpPortMin(22000);
    Client_->SetRtpPortMax(24000);
    Client_->SetDtmfMethod(dtmfInBand);
    Client_->SetSilenceThreshold(500);
    Client_->SetSilenceTimeout(5000);
    Client_->SetAudioDeviceFactory(DefaultAudioDeviceFactory());
    connect(Client_, &TSipClient::OnRegistrationOk, this, &TMainWindow::RegistrationOk);
    connect(Client_, &TSipClient::OnRegistrationBye, this, &TMainWindow::RegistrationBye);
    // No OnInvite handler: an incoming call keeps ringing until its caller
    // gives up.
    connect(Client_, &TSipClient::OnInviteOk, this, &TMainWindow::InviteOk);
    connect(Client_, &TSipClient::OnBye, this, &TMainWindow::Bye);
    // A handler of ours that fails inside a component event is shown like
    // any other failed action.
    connect(Client_, &TSipClient::HandlerError, this,
            [this](TSipClient*, const QString& text) { ShowError(this, text); });
}

void TMainWindow::Start() {
    Account_ = Settings_.ReadAccount();
    FillDeviceList(*Speakers_, DeviceNames_(false), Account_.WaveOut);
    FillDeviceList(*Microphones_, DeviceNames_(true), Account_.WaveIn);
    if (Account_.Username.isEmpty() || Account_.Password.isEmpty()) AskForCredentials();
    ValidateAtStart();
}

// Cancelled prompts give empty values, stored all the same: the next start
// asks again.
void TMainWindow::AskForCredentials() {
    const QString caption = QString::fromUtf8(kPromptCaption);
    Account_.Username = QInputDialog::getText(this, caption, QString::fromUtf8(kAccountPromptText));
    Account_.Password = QInputDialog::getText(this, caption, QString::fromUtf8(kPasswordPromptText));
    Settings_.WriteCredentials(Account_.Username, Account_.Password);
}

// Any failure on the way (portal down, an engine that cannot start, a
// version that is no number) ends the step where it happened; what was
// already shown stays.
void TMainWindow::ValidateAtStart() {
    try {
        const TValidationReply reply =
            Portal_->ValidateAtStart(Account_.Username, Account_.Password, Panels_[2]->text());
        if (reply.Refused()) {
            ShowMessage(this, QString::fromUtf8(kRefusedAccountText));
            Settings_.WriteCredentials(QString(), QString());
            setEnabled(false);
            return;
        }
        GoOnline();
        AccountValue_->setText(reply.Display);
        Balance_->setText(FormatCurrency(reply.Balance, locale()));
        LastBalance_ = reply.Balance;
        ShowRegister(reply.Calls);
        if (IsNewerVersion(reply.Version, VersionDigits(Panels_[2]->text())) &&
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
}

void TMainWindow::GoOnline() {
    if (!Client_->GetActive()) Client_->SetActive(true);
    // The proxy is the server's host; the account sends to it on the
    // server's port.
    const std::string server = Addresses_.SipServer.toStdString();
    const std::string proxy = Addresses_.SipServer.section(QLatin1Char(':'), 0, 0).toStdString();
    SipAccount_ = Client_->AddAccount(server, Account_.Username.toStdString(), Account_.Password.toStdString(),
                                      proxy, std::string());
    SipAccount_->SetExpires(kRegistrationExpiry);
    SipAccount_->SetDisplayName(kLineDisplayName);
    Client_->RegisterAccount(SipAccount_);
}

void TMainWindow::GoOffline() { Client_->UnregisterAccount(SipAccount_); }

// Events of an account the window has replaced (after "&Desconectado" and
// "&En Linea") say nothing about the current one and are passed over.
void TMainWindow::RegistrationOk(TSipClient*, ISipAccountPtr account) {
    if (account == SipAccount_) ShowOnline(true);
}

void TMainWindow::RegistrationBye(TSipClient*, ISipAccountPtr account) {
    if (account == SipAccount_) ShowOnline(false);
}

void TMainWindow::ShowOnline(bool online) {
    (online ? OnlineAction_ : OfflineAction_)->setChecked(true);
    CallButton_->setEnabled(online);
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
    if (CurrentCall_ && CurrentCall_->GetState() == csConnected)
        Client_->SendDtmf(CurrentCall_, key->text().toStdString());
    else
        Number_->setText(Number_->text() + key->text());
}

void TMainWindow::ClearClicked() {
    Number_->clear();
    Number_->setFocus();
}

void TMainWindow::OpenWebSite() { QDesktopServices::openUrl(WebRootUrl(Addresses_.WebUrl)); }

void TMainWindow::OpenCallDetail() {
    QDesktopServices::openUrl(Portal_->CallDetailLink(Account_.Username, Account_.Password));
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
    if (!CloseConfirmed_ && !ConfirmAndEndCall()) {
        event->ignore();
        return;
    }
    CloseConfirmed_ = true;
    SaveOnClose();
    event->accept();
}

// The closing question; on Yes the call timer stops and a call of ours is
// hung up (an incoming call still ringing is not ours to end).
// With an administrator PIN set, closing asks for it first; in kiosk mode
// the PIN is the closing question.
bool TMainWindow::ConfirmAndEndCall() {
    if (!AdminAllows()) return false;
    if (!(AdminPin_.IsSet() && AdminPin_.KioskMode()) && !AskYesNo(this, QString::fromUtf8(kQuitQuestionText)))
        return false;
    CallTimer_->stop();
    try {
        if (CurrentCall_ && CallOpen_ && IsCallToHangUp(CurrentCall_->GetIncoming(), CurrentCall_->GetState()))
            Client_->HangUp(CurrentCall_);
    } catch (const std::exception& error) {
        ShowError(this, QString::fromUtf8(error.what()));
    }
    return true;
}

// A window disabled after a refused account writes nothing back, so the
// cleared credentials stay cleared.
void TMainWindow::SaveOnClose() {
    if (!isEnabled()) return;
    try {
        if (SipAccount_) Client_->UnregisterAccount(SipAccount_);
    } catch (const std::exception&) {
        // An engine that never started has nothing to unregister.
    }
    Account_.WaveIn = Microphones_->currentText();
    Account_.WaveOut = Speakers_->currentText();
    Settings_.WriteAccount(Account_);
}
