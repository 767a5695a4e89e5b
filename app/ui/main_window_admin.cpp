// The main window's administrator side: the PIN asked before the actions
// that change the booth or close it, kiosk mode, the administrator PIN
// itself and starting with the session.
#include <exception>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

#include "app/booth/session_autostart.h"
#include "app/ui/kiosk_mode.h"
#include "app/ui/main_window.h"
#include "app/ui/message_boxes.h"
#include "app/ui/pin_dialog.h"
#include "app/ui/scaled_stage.h"

void TMainWindow::SetupAdminGuard() {
    AdminGuard_ = std::make_unique<TAdminGuard>(
        AdminPin_, [this] { return AskForAdminPin(this); },
        [this](const QString& text) { ShowError(this, text); });
}

bool TMainWindow::AdminAllows() { return AdminGuard_->Allow(); }

bool TMainWindow::KioskAllows() { return !AdminPin_.KioskMode() || AdminAllows(); }

void TMainWindow::BuildAdminMenu(QMenu* options) {
    options->addSeparator();
    AutostartAction_ = options->addAction(QString::fromUtf8(kAutostartMenuText));
    AutostartAction_->setObjectName(QStringLiteral("autostartAction"));
    AutostartAction_->setCheckable(true);
    AutostartAction_->setChecked(TSessionAutostart(QCoreApplication::applicationFilePath()).IsEnabled());
    KioskAction_ = options->addAction(QString::fromUtf8(kKioskMenuText));
    KioskAction_->setObjectName(QStringLiteral("kioskAction"));
    KioskAction_->setCheckable(true);
    KioskAction_->setChecked(AdminPin_.KioskMode());
    AdminPinAction_ = options->addAction(QString::fromUtf8(kAdminPinMenuText));
    AdminPinAction_->setObjectName(QStringLiteral("adminPinAction"));
    connect(AutostartAction_, &QAction::triggered, this, &TMainWindow::ToggleAutostart);
    connect(KioskAction_, &QAction::triggered, this, &TMainWindow::ToggleKioskMode);
    connect(AdminPinAction_, &QAction::triggered, this, &TMainWindow::ChangeAdminPin);
}

void TMainWindow::ShowAsConfigured() {
    const bool kiosk = AdminPin_.KioskMode();
    MinimizeAction_->setEnabled(!kiosk);
    Stage_->SetFixed(!kiosk);
    ApplyKioskMode(*this, kiosk, DecoratedFlags_);
}

// The menu item shows what the desktop will do, whatever the click was.
void TMainWindow::ToggleAutostart(bool enabled) {
    const TSessionAutostart autostart(QCoreApplication::applicationFilePath());
    if (AdminAllows()) {
        try {
            autostart.SetEnabled(enabled);
        } catch (const std::exception& error) {
            ShowError(this, QString::fromUtf8(error.what()));
        }
    }
    AutostartAction_->setChecked(autostart.IsEnabled());
}

void TMainWindow::ToggleKioskMode(bool enabled) {
    if (AdminAllows()) {
        AdminPin_.SetKioskMode(enabled);
        ShowAsConfigured();
    }
    KioskAction_->setChecked(AdminPin_.KioskMode());
}

// The new PIN is typed twice; an empty one removes the PIN.
void TMainWindow::ChangeAdminPin() {
    if (!AdminAllows()) return;
    const std::optional<QString> first = AskForAdminPin(this, QString::fromUtf8(kNewPinPromptText));
    if (!first) return;
    const std::optional<QString> second = AskForAdminPin(this, QString::fromUtf8(kRepeatPinPromptText));
    if (!second) return;
    if (*first != *second) {
        ShowError(this, QString::fromUtf8(kPinMismatchText));
        return;
    }
    try {
        AdminPin_.Set(*first);
    } catch (const std::exception& error) {
        ShowError(this, QString::fromUtf8(error.what()));
    }
}
