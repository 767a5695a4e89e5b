// The main window's controls at their fixed places. Coordinates are those of
// the client area (449 x 568 with the status bar's 19 pixels at the bottom);
// the menu bar sits above it.
#include <algorithm>

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTableWidget>

#include "app/booth/booth_texts.h"
#include "app/ui/clickable_label.h"
#include "app/ui/main_window.h"
#include "app/ui/lock_mark.h"
#include "app/ui/pictures.h"
#include "app/ui/quality_mark.h"
#include "app/ui/register_delegate.h"
#include "app/ui/scaled_stage.h"

namespace {

constexpr int kClientWidth = 449;
constexpr int kClientHeight = 568;
constexpr int kStatusBarHeight = 19;

// Tahoma is a Windows font; the fallbacks keep its size and weight.
QFont BoothFont(int points, bool bold = false) {
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(points);
    font.setBold(bold);
    return font;
}

QGroupBox* Group(QWidget* parent, const char* title, const QRect& place, const char* name) {
    auto* group = new QGroupBox(QString::fromUtf8(title), parent);
    group->setObjectName(QString::fromLatin1(name));
    group->setGeometry(place);
    return group;
}

QLabel* Label(QWidget* parent, const char* text, const QRect& place, const char* name = "") {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(place);
    return label;
}

}  // namespace

void TMainWindow::BuildLayout() {
    setWindowTitle(QString::fromUtf8(kAppTitle));
    setWindowIcon(BoothWindowIcon());
    DecoratedFlags_ = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                      Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint;
    setWindowFlags(DecoratedFlags_);
    setFont(BoothFont(8));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    client->setFixedSize(kClientWidth, kClientHeight - kStatusBarHeight);
    Logo_ = new TClickableLabel(client);
    Logo_->setObjectName(QStringLiteral("logo"));
    Logo_->setGeometry(8, 0, 433, 105);
    Logo_->setPixmap(BoothLogo());
    connect(Logo_, &TClickableLabel::Clicked, this, &TMainWindow::OpenWebSite);
    BuildAccountGroup(client);
    BuildBoothGroup(client);
    BuildCallGroup(client);
    BuildPhoneGroup(client);
    BuildRegisterGroup(client);
    BuildAudioGroup(client);
    Stage_ = new TScaledStage(client, this);
    setCentralWidget(Stage_);
    // The register's rows and header have heights of their own.
    connect(Stage_, &TScaledStage::Scaled, this, [this](double factor) {
        const int row = static_cast<int>(17 * factor);
        Register_->horizontalHeader()->setFixedHeight(row);
        Register_->verticalHeader()->setMinimumSectionSize(row);
        Register_->verticalHeader()->setDefaultSectionSize(row);
        FitRegisterColumns();
    });
    BuildMenu();
    BuildStatusBar();
    // No resizing: the client area keeps its size and the window follows it.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

QWidget* TMainWindow::BuildAccountGroup(QWidget* parent) {
    auto* group = Group(parent, "Control de Cuenta", {8, 112, 257, 73}, "accountGroup");
    Label(group, "Cuenta:", {16, 20, 60, 17});
    AccountValue_ = new TClickableLabel(group);
    AccountValue_->setObjectName(QStringLiteral("accountValue"));
    AccountValue_->setGeometry(80, 20, 170, 17);
    AccountValue_->setText(QStringLiteral("00000"));
    QFont link = BoothFont(8, true);
    link.setUnderline(true);
    AccountValue_->setFont(link);
    AccountValue_->setStyleSheet(QStringLiteral("color: blue"));
    connect(AccountValue_, &TClickableLabel::Clicked, this, &TMainWindow::OpenCallDetail);
    Label(group, "Saldo:", {16, 44, 60, 17});
    Balance_ = Label(group, "$ 0,00", {80, 42, 170, 20}, "balance");
    Balance_->setFont(BoothFont(10, true));
    return group;
}

// Seven rows: the provider's figures and, under "Costo Total:", what the
// customer pays ("A cobrar:"), running during the call and kept after it.
QWidget* TMainWindow::BuildBoothGroup(QWidget* parent) {
    auto* group = Group(parent, "Estado de la Cabina", {8, 192, 257, 146}, "boothGroup");
    const char* captions[] = {"Estado:", "Teléfono:", "Destino:", "Costo/min:", "Duración:", "Costo Total:"};
    const char* initial[] = {"Libre", "---", "---", "$ 0,00", "00:00:00", "$ 0,00"};
    const char* names[] = {"boothState", "phone", "destination", "ratePerMinute", "duration", "totalCost"};
    QLabel** values[] = {&BoothState_, &Phone_, &Destination_, &RatePerMinute_, &Duration_, &TotalCost_};
    for (int row = 0; row < 6; ++row) {
        Label(group, captions[row], {16, 18 + 17 * row, 80, 17});
        *values[row] = Label(group, initial[row], {100, 18 + 17 * row, 150, 17}, names[row]);
    }
    TotalCost_->setFont(BoothFont(8, true));
    Label(group, "A cobrar:", {16, 18 + 17 * 6, 80, 17});
    ToCharge_ = Label(group, "$ 0,00", {100, 16 + 17 * 6, 150, 20}, "amountToCharge");
    ToCharge_->setFont(BoothFont(10, true));
    ToCharge_->setStyleSheet(QStringLiteral("color: #006400"));
    return group;
}

QWidget* TMainWindow::BuildCallGroup(QWidget* parent) {
    auto* group = Group(parent, "Llamada", {8, 345, 257, 56}, "callGroup");
    CallButton_ = new QPushButton(QStringLiteral("&Llamar"), group);
    CallButton_->setObjectName(QStringLiteral("callButton"));
    CallButton_->setGeometry(8, 15, 110, 35);
    CallButton_->setFont(BoothFont(10, true));
    CallButton_->setDefault(true);
    CallButton_->setEnabled(false);
    connect(CallButton_, &QPushButton::clicked, this, &TMainWindow::CallClicked);
    HangUpButton_ = new QPushButton(QStringLiteral("&Colgar"), group);
    HangUpButton_->setObjectName(QStringLiteral("hangUpButton"));
    HangUpButton_->setGeometry(122, 15, 62, 35);
    connect(HangUpButton_, &QPushButton::clicked, this, &TMainWindow::HangUpClicked);
    ChargeButton_ = new QPushButton(QStringLiteral("C&obrar"), group);
    ChargeButton_->setObjectName(QStringLiteral("chargeCallButton"));
    ChargeButton_->setGeometry(188, 15, 61, 35);
    ChargeButton_->setEnabled(false);
    connect(ChargeButton_, &QPushButton::clicked, this, &TMainWindow::ChargeLastCall);
    // A main window has no default or cancel button of its own: Enter and
    // Escape are shortcuts for the window, and a disabled button ignores them.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter})
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, CallButton_, [this] {
            if (CallButton_->isEnabled()) CallButton_->click();
        });
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, HangUpButton_, [this] {
        if (HangUpButton_->isEnabled()) HangUpButton_->click();
    });
    return group;
}

QWidget* TMainWindow::BuildPhoneGroup(QWidget* parent) {
    auto* group = Group(parent, "Teléfono", {272, 112, 169, 289}, "phoneGroup");
    Number_ = new QLineEdit(group);
    Number_->setObjectName(QStringLiteral("number"));
    Number_->setGeometry(16, 24, 119, 24);
    Number_->setMaxLength(32);
    auto* clear = new QPushButton(QStringLiteral("<-"), group);
    clear->setObjectName(QStringLiteral("clearButton"));
    clear->setGeometry(136, 24, 17, 25);
    connect(clear, &QPushButton::clicked, this, &TMainWindow::ClearClicked);
    const char* keys = "123456789*0#";
    for (int i = 0; i < 12; ++i) {
        auto* key = new QPushButton(QString(QLatin1Char(keys[i])), group);
        key->setObjectName(QStringLiteral("key") + QLatin1Char(keys[i]));
        key->setGeometry(16 + 48 * (i % 3), 56 + 56 * (i / 3), 41, 49);
        key->setFont(BoothFont(14, true));
        key->setFocusPolicy(Qt::NoFocus);
        connect(key, &QPushButton::clicked, this, &TMainWindow::KeypadClicked);
    }
    return group;
}

QWidget* TMainWindow::BuildRegisterGroup(QWidget* parent) {
    auto* group = Group(parent, "Registro de las últimas 5 llamadas", {8, 408, 433, 137}, "registerGroup");
    Register_ = new QTableWidget(5, 5, group);
    Register_->setObjectName(QStringLiteral("register"));
    Register_->setGeometry(8, 16, 417, 111);
    Register_->setFont(BoothFont(7));
    Register_->setHorizontalHeaderLabels(
        {QStringLiteral("Fecha y Hora"), QString::fromUtf8("Nro. Teléf."), QStringLiteral("Destino"),
         QStringLiteral("Tiempo"), QStringLiteral("TOTAL")});
    Register_->verticalHeader()->hide();
    Register_->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    Register_->setItemDelegate(new TRegisterDelegate(Register_));
    Register_->horizontalHeader()->setFixedHeight(17);
    Register_->verticalHeader()->setDefaultSectionSize(17);
    Register_->verticalHeader()->setMinimumSectionSize(17);
    const int widths[] = {89, 83, 137, 42, 57};
    for (int column = 0; column < 5; ++column) Register_->setColumnWidth(column, widths[column]);
    Register_->setSelectionBehavior(QAbstractItemView::SelectRows);
    Register_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Five rows fit: a scroll bar that is always there would only cover
    // "TOTAL".
    Register_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Register_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return group;
}

// Measured with the delegate, so the leading spaces count; the destination
// is the one column that gives way when the values cannot all fit.
void TMainWindow::FitRegisterColumns() {
    constexpr int kDestination = 2;
    Register_->resizeColumnsToContents();
    int used = 0;
    for (int column = 0; column < Register_->columnCount(); ++column) used += Register_->columnWidth(column);
    // The frame alone stands between the grid's edge and its cells (no
    // vertical header, and no scroll bar for five rows).
    const int room = Register_->width() - 2 * Register_->frameWidth();
    const int destination = Register_->columnWidth(kDestination) + room - used;
    const int least = Register_->horizontalHeader()->sectionSizeHint(kDestination);
    Register_->setColumnWidth(kDestination, std::max(destination, least));
}

// Outside the client area and disabled: never seen, it only holds the device
// choice that calls use.
QWidget* TMainWindow::BuildAudioGroup(QWidget* parent) {
    auto* group = Group(parent, "Estado de Audio", {8, 600, 433, 73}, "audioGroup");
    group->setEnabled(false);
    Label(group, "Audífono", {16, 20, 70, 17});
    Speakers_ = new QComboBox(group);
    Speakers_->setObjectName(QStringLiteral("speakers"));
    Speakers_->setGeometry(90, 18, 330, 21);
    Label(group, "Micrófono", {16, 44, 70, 17});
    Microphones_ = new QComboBox(group);
    Microphones_->setObjectName(QStringLiteral("microphones"));
    Microphones_->setGeometry(90, 42, 330, 21);
    return group;
}

void TMainWindow::BuildMenu() {
    auto action = [this](QMenu* menu, const char* text, const char* name) {
        QAction* item = menu->addAction(QString::fromUtf8(text));
        item->setObjectName(QString::fromLatin1(name));
        return item;
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("&Archivo"));
    MinimizeAction_ = action(file, "&Minimizar", "minimizeAction");
    file->addSeparator();
    QuitAction_ = action(file, "&Salir", "quitAction");
    connect(QuitAction_, &QAction::triggered, this, &QWidget::close);
    QMenu* state = menuBar()->addMenu(QStringLiteral("&Estado"));
    OnlineAction_ = action(state, "&En Línea", "onlineAction");
    OfflineAction_ = action(state, "&Desconectado", "offlineAction");
    auto* radio = new QActionGroup(this);
    for (QAction* item : {OnlineAction_, OfflineAction_}) {
        item->setCheckable(true);
        radio->addAction(item);
    }
    OfflineAction_->setChecked(true);
    // A customer going off line would leave the booth dead for the next one.
    connect(OnlineAction_, &QAction::triggered, this, [this] {
        Guarded([this] {
            if (KioskAllows()) GoOnline();
        });
    });
    connect(OfflineAction_, &QAction::triggered, this, [this] {
        Guarded([this] {
            if (KioskAllows()) GoOffline();
        });
    });
    QMenu* options = menuBar()->addMenu(QStringLiteral("&Opciones"));
    AccountDialogAction_ = action(options, "Configuración &Cuenta", "accountDialogAction");
    AudioDialogAction_ = action(options, "Configuración de &Audio", "audioDialogAction");
    BuildTillMenu();
    BuildAdminMenu(options);
    QMenu* help = menuBar()->addMenu(QStringLiteral("A&yuda"));
    AboutAction_ = action(help, "&Acerca de...", "aboutAction");
}

void TMainWindow::BuildStatusBar() {
    statusBar()->setFixedHeight(kStatusBarHeight);
    statusBar()->setSizeGripEnabled(false);
    const char* texts[] = {kOfflineText, kStatusLineText, kProgramVersion};
    const char* names[] = {"connectionPanel", "textPanel", "versionPanel"};
    for (int i = 0; i < 3; ++i) {
        Panels_[i] = new QLabel(QString::fromUtf8(texts[i]), statusBar());
        Panels_[i]->setObjectName(QString::fromLatin1(names[i]));
        Panels_[i]->setAlignment(Qt::AlignCenter);
    }
    // Fixed widths that add up to more than the bar made Qt draw the panels
    // over each other; the note takes what the connection and the version
    // leave, and the version sits at the right with room for its text.
    Panels_[0]->setFixedWidth(90);
    Panels_[1]->setMinimumWidth(0);
    Panels_[1]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    Panels_[2]->setFixedWidth(Panels_[2]->fontMetrics().horizontalAdvance(Panels_[2]->text()) + 12);
    statusBar()->addWidget(Panels_[0]);
    statusBar()->addWidget(Panels_[1], 1);
    statusBar()->addPermanentWidget(Panels_[2]);
    statusBar()->addPermanentWidget(new TLockMark(
        [this] {
            const ISipCallPtr call = CurrentCall();
            return call && call->GetCrypto().Agreed();
        },
        statusBar()));
    statusBar()->addPermanentWidget(new TQualityMark(
        [this]() -> std::optional<media::TCallQuality> {
            const ISipCallPtr call = CurrentCall();
            return call ? std::optional(TSipClient::GetCallQuality(call)) : std::nullopt;
        },
        statusBar()));
}
