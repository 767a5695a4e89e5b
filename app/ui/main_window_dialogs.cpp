// The main window's menu dialogs and its place in the notification area.
#include <exception>

#include <QAction>
#include <QFile>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QTimer>

#include "app/booth/booth_texts.h"
#include "app/portal/portal.h"
#include "app/ui/about_box.h"
#include "app/ui/account_dialog.h"
#include "app/ui/audio_dialog.h"
#include "app/ui/booth_tray.h"
#include "app/ui/clickable_label.h"
#include "app/ui/main_window.h"
#include "app/ui/message_boxes.h"

namespace {

QStringList Entries(const QComboBox& list) {
    QStringList entries;
    for (int i = 0; i < list.count(); ++i) entries.append(list.itemText(i));
    return entries;
}

}  // namespace

void TMainWindow::ConnectDialogs() {
    connect(AudioDialogAction_, &QAction::triggered, this, &TMainWindow::OpenAudioDialog);
    connect(AccountDialogAction_, &QAction::triggered, this, &TMainWindow::OpenAccountDialog);
    connect(AboutAction_, &QAction::triggered, this, &TMainWindow::OpenAboutBox);
    connect(MinimizeAction_, &QAction::triggered, this, &TMainWindow::HideToTray);
    connect(Tray_, &TBoothTray::ShowRequested, this, &TMainWindow::ShowWindow);
    connect(Tray_, &TBoothTray::CloseRequested, this, &QWidget::close);
    Tray_->Show();
}

// Devices plugged in since the last opening appear; the choice takes effect
// from the next call.
void TMainWindow::OpenAudioDialog() {
    if (!AdminAllows()) return;
    FillDeviceList(*Speakers_, DeviceNames_(false), Account_.WaveOut);
    FillDeviceList(*Microphones_, DeviceNames_(true), Account_.WaveIn);
    AudioDialog_->Fill(Entries(*Speakers_), Entries(*Microphones_), Account_.WaveIn, Account_.WaveOut);
    AudioDialog_->FillCodecs(Settings_.ReadCodecs());
    if (AudioDialog_->exec() != QDialog::Accepted) return;
    // The order reaches the next call's offer and answer.
    Settings_.WriteCodecs(AudioDialog_->Codecs());
    Client_->SetCodecs(CodecPayloadTypes(AudioDialog_->Codecs()));
    Account_.WaveIn = AudioDialog_->WaveIn();
    Account_.WaveOut = AudioDialog_->WaveOut();
    Microphones_->setCurrentIndex(DeviceListSelection(Entries(*Microphones_), Account_.WaveIn));
    Speakers_->setCurrentIndex(DeviceListSelection(Entries(*Speakers_), Account_.WaveOut));
}

// Either button leads to a validation: even unchanged credentials are
// checked again and registered anew.
void TMainWindow::OpenAccountDialog() {
    if (!AdminAllows()) return;
    EditAccount(Account_.Username, Account_.Password, true);
}

void TMainWindow::EditAccount(const QString& username, const QString& password, bool validateOnCancel) {
    AccountDialog_->SetServer(Addresses_.SipServer);
    AccountDialog_->SetCredentials(username, password);
    AccountDialog_->SetTransport(Settings_.ReadTransport());
    AccountDialog_->SetCaFile(Settings_.ReadTlsCaFile());
    AccountDialog_->SetCertificateFile(Settings_.ReadTlsCertificate());
    AccountDialog_->SetKeyFile(Settings_.ReadTlsKey());
    if (AccountDialog_->exec() == QDialog::Accepted) {
        Account_.Username = AccountDialog_->Username();
        Account_.Password = AccountDialog_->Password();
        Settings_.WriteTransport(AccountDialog_->Transport());
        Settings_.WriteTlsCaFile(AccountDialog_->CaFile());
        Settings_.WriteTlsCertificate(AccountDialog_->CertificateFile(), AccountDialog_->KeyFile());
        // Taken at the client's next activation.
        Client_->SetTlsCertificate(QFile::encodeName(AccountDialog_->CertificateFile()).toStdString(),
                                   QFile::encodeName(AccountDialog_->KeyFile()).toStdString());
    } else if (!validateOnCancel) {
        return;
    }
    ValidateAfterEdit();
}

// No call can start while the portal is asked: its answer re-registers
// the line.
void TMainWindow::ValidateAfterEdit() {
    EditValidating_ = true;
    UpdateCallButton();
    SetConfigurationEnabled(false);
    Portal_->ValidateAfterEdit(Account_.Username, Account_.Password, this,
                               [this](const std::optional<TValidationReply>& reply) {
                                   EditValidating_ = false;
                                   SetConfigurationEnabled(true);
                                   EditValidated(reply);
                                   UpdateCallButton();
                                   emit AccountValidated();
                               });
}

// An unreachable portal changes nothing.
void TMainWindow::EditValidated(const std::optional<TValidationReply>& reply) {
    if (!reply) return;
    if (reply->Refused()) {
        RefuseAccount();
        return;
    }
    // Kept at once: a crash before the close must not lose the new account.
    Settings_.WriteAccount(Account_);
    // The start-up validation has nothing left to do.
    PortalRetryTimer_->stop();
    ShowNote(QString());
    AccountValue_->setText(reply->Display);
    ShowMoney(Balance_, reply->Balance);
    Guards_->BalanceRefreshed(reply->Balance);
    ShowRegister(reply->Calls);
    Guarded([this] {
        if (SipAccount_) GoOffline();
        GoOnline();
    });
}

// A mistyped account is no dead end: the dialog opens again with the name
// as typed and only the password to type again. The stored account (the
// last one the portal took) and its registration stay, so the booth keeps
// working when the dialog is cancelled.
void TMainWindow::RefuseAccount() {
    const QString typed = Account_.Username;
    const TAccountSettings stored = Settings_.ReadAccount();
    Account_.Username = stored.Username;
    Account_.Password = stored.Password;
    ShowNote(QString::fromUtf8(kAccountRefusedText));
    ShowError(this, QString::fromUtf8(kRefusedAccountText));
    // After the portal's handler has returned: the dialog runs an event loop
    // of its own.
    QTimer::singleShot(0, this, [this, typed] {
        if (AdminAllows()) EditAccount(typed, QString(), false);
    });
}

void TMainWindow::OpenAboutBox() {
    AboutBox_->SetVersion(Panels_[2]->text());
    AboutBox_->exec();
}

// The title bar's minimise button goes to the notification area too. In
// kiosk mode nothing may minimise the window (a desktop shortcut, the
// window manager): it comes straight back.
void TMainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && AdminPin_.KioskMode()) {
        QTimer::singleShot(0, this, &TMainWindow::ShowAsConfigured);
        return;
    }
    if (event->type() == QEvent::WindowStateChange && isMinimized() && TrayAvailable_ && TrayAvailable_())
        QTimer::singleShot(0, this, &QWidget::hide);
}

void TMainWindow::HideToTray() {
    if (TrayAvailable_ && TrayAvailable_())
        hide();
    else
        showMinimized();
}
