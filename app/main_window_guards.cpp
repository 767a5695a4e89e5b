// The main window's side of the call guards: where their texts go, the cost
// label turning red, the tone into the call and the hang-up they ask for.
#include <QLabel>
#include <QSettings>

#include "app/booth_texts.h"
#include "app/main_window.h"

void TMainWindow::SetupCallGuards() {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(kSettingsOrganization));
    Guards_ = new TCallGuards(
        ReadGuardSettings(settings),
        [this](const ISipCallPtr& call, const std::string& file) { Client_->PlayWavFile(call, file); }, this);
    connect(Guards_, &TCallGuards::StatusText, this, [this](const QString& text) { ShowGuardText(text, false); });
    connect(Guards_, &TCallGuards::AnswerFlagged, this, [this](const QString& text) { ShowGuardText(text, true); });
    connect(Guards_, &TCallGuards::CostWarningChanged, this, [this](bool warning) {
        TotalCost_->setStyleSheet(warning ? QStringLiteral("color: red") : QString());
    });
    connect(Guards_, &TCallGuards::HangUpRequested, this, &TMainWindow::HangUpClicked);
}

// The status bar's middle panel; an empty text puts its own back. A far-end
// flag is shown in red; the call's flags are shown again when it ends (see
// ShowAnswerFlags), so the operator still sees them when the customer comes
// to pay.
void TMainWindow::ShowGuardText(const QString& text, bool alarm) {
    QLabel* panel = Panels_[1];
    const QString shown = text.isEmpty() ? QString::fromUtf8(kStatusPanelText) : text;
    panel->setText(shown);
    panel->setToolTip(text);
    panel->setStyleSheet(alarm ? QStringLiteral("color: red; font-weight: bold") : QString());
}

void TMainWindow::ShowAnswerFlags() {
    const QStringList flags = Guards_->AnswerFlags();
    if (!flags.isEmpty()) ShowGuardText(flags.join(QStringLiteral(", ")), true);
}
