#include "app/ui/counter_window.h"

#include <exception>

#include <QBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>

#include "app/booth/admin_pin.h"
#include "app/money/amount_text.h"
#include "app/booth/booth_settings.h"
#include "app/ui/checkout_dialog.h"
#include "app/counter/board_model.h"
#include "app/counter/counter_db.h"
#include "app/counter/session_receipt.h"
#include "app/ui/shop_close_window.h"
#include "app/counter/shop_listener.h"
#include "app/ui/message_boxes.h"
#include "app/ui/pictures.h"
#include "app/ui/pin_dialog.h"
#include "app/ui/till.h"

namespace {

// How long the counter waits between attempts to reach the database.
constexpr int kReconnectSeconds = 5;

// The booth's own font: Tahoma where there is one.
QFont CounterFont(int points, bool bold = false) {
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(points);
    font.setBold(bold);
    return font;
}

}  // namespace

TCounterWindow::TCounterWindow(QString url, QString operatorName, QWidget* parent)
    : QMainWindow(parent), Url_(std::move(url)), Operator_(std::move(operatorName)),
      AdminPin_(std::make_unique<TAdminPin>()) {
    AdminGuard_ = std::make_unique<TAdminGuard>(
        *AdminPin_, [this] { return AskForAdminPin(this); }, [this](const QString& text) { ShowMessage(this, text); });
    BuildLayout();
    Clock_ = new QTimer(this);
    connect(Clock_, &QTimer::timeout, this, &TCounterWindow::Tick);
}

TCounterWindow::~TCounterWindow() {
    delete Listener_;  // before the connection it listens on
}

void TCounterWindow::BuildLayout() {
    setWindowTitle(QString::fromUtf8(kCounterTitle));
    setWindowIcon(BoothWindowIcon());
    setFont(CounterFont(9));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    auto* client = new QWidget(this);
    auto* column = new QVBoxLayout(client);
    auto* logo = new QLabel(client);
    logo->setPixmap(BoothLogo());
    column->addWidget(logo);
    Model_ = new TBoardModel(MoneyLocale(locale()), this);
    Table_ = new QTableView(client);
    Table_->setObjectName(QStringLiteral("board"));
    Table_->setModel(Model_);
    Table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table_->setSelectionMode(QAbstractItemView::SingleSelection);
    Table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table_->verticalHeader()->hide();
    Table_->horizontalHeader()->setStretchLastSection(true);
    Table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Table_->setFont(CounterFont(11));
    column->addWidget(Table_, 1);
    auto* buttons = new QHBoxLayout;
    OpenButton_ = new QPushButton(QStringLiteral("&Abrir cabina"), client);
    OpenButton_->setObjectName(QStringLiteral("openBooth"));
    CloseButton_ = new QPushButton(QStringLiteral("&Cerrar cabina"), client);
    CloseButton_->setObjectName(QStringLiteral("closeBooth"));
    ShopCloseButton_ = new QPushButton(QStringLiteral("Cierre de &caja"), client);
    ShopCloseButton_->setObjectName(QStringLiteral("shopClose"));
    for (QPushButton* button : {OpenButton_, CloseButton_, ShopCloseButton_}) {
        button->setFont(CounterFont(10, true));
        button->setMinimumHeight(41);
        buttons->addWidget(button);
    }
    column->addLayout(buttons);
    setCentralWidget(client);
    Status_ = new QLabel(QString::fromUtf8(kCounterOfflineText), this);
    Status_->setObjectName(QStringLiteral("connection"));
    statusBar()->addWidget(Status_, 1);
    connect(OpenButton_, &QPushButton::clicked, this, &TCounterWindow::OpenBoothClicked);
    connect(CloseButton_, &QPushButton::clicked, this, &TCounterWindow::CloseBoothClicked);
    connect(ShopCloseButton_, &QPushButton::clicked, this, &TCounterWindow::ShopCloseClicked);
    resize(900, 560);
}

void TCounterWindow::Start() {
    Clock_->start(1000);
    if (EnsureConnected()) Refresh();
}

bool TCounterWindow::Connected() const { return Db_ != nullptr; }

bool TCounterWindow::EnsureConnected() {
    if (Db_) return true;
    if (NextAttempt_.isValid() && QDateTime::currentDateTimeUtc() < NextAttempt_) return false;
    try {
        auto db = std::make_unique<TCounterDb>(Url_, Operator_);
        Listener_ = new TShopListener(db->Db(), this);
        connect(Listener_, &TShopListener::Changed, this, &TCounterWindow::Refresh);
        Db_ = std::move(db);
        Status_->setText(QString::fromUtf8(kCounterOnlineText));
        Status_->setStyleSheet(QString());
        return true;
    } catch (const std::exception& error) {
        delete Listener_;
        Listener_ = nullptr;
        Disconnected(QString::fromUtf8(error.what()));
        return false;
    }
}

void TCounterWindow::Disconnected(const QString& why) {
    delete Listener_;
    Listener_ = nullptr;
    Db_.reset();
    NextAttempt_ = QDateTime::currentDateTimeUtc().addSecs(kReconnectSeconds);
    Status_->setText(QString::fromUtf8(kCounterOfflineText));
    Status_->setToolTip(why);
    Status_->setStyleSheet(QStringLiteral("color: red; font-weight: bold"));
}

// One read of the whole board: a shop has tens of booths, not thousands.
void TCounterWindow::Refresh() {
    if (!Db_) return;
    const QString selected = SelectedBooth();
    try {
        Model_->SetRows(Db_->Booths());
    } catch (const std::exception& error) {
        Disconnected(QString::fromUtf8(error.what()));
        return;
    }
    Model_->SetNow(QDateTime::currentDateTimeUtc());
    if (!selected.isEmpty()) SelectBooth(selected);
    emit BoardRefreshed();
}

void TCounterWindow::Tick() {
    if (!Db_ && EnsureConnected()) Refresh();
    Model_->SetNow(QDateTime::currentDateTimeUtc());
}

QString TCounterWindow::SelectedBooth() const {
    const QModelIndexList rows = Table_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return {};
    return Model_->Text(rows.front().row(), TBoardModel::Booth);
}

void TCounterWindow::SelectBooth(const QString& name) {
    for (int row = 0; row < Model_->rowCount(); ++row)
        if (Model_->Text(row, TBoardModel::Booth) == name) Table_->selectRow(row);
}

void TCounterWindow::Guarded(const std::function<void()>& action) {
    try {
        if (!Db_ && !EnsureConnected()) throw std::runtime_error(kCounterOfflineText);
        action();
    } catch (const std::logic_error& refusal) {
        ShowMessage(this, QString::fromUtf8(refusal.what()));
    } catch (const std::exception& error) {
        ShowError(this, QString::fromUtf8(error.what()));
    }
    Refresh();
}

void TCounterWindow::OpenBooth(const QString& booth, std::optional<TMoney> limit) {
    Guarded([&] { Db_->OpenSession(booth, limit); });
}

void TCounterWindow::OpenBoothClicked() {
    const QString booth = SelectedBooth();
    if (booth.isEmpty()) {
        ShowMessage(this, QStringLiteral("Elija una cabina."));
        return;
    }
    bool accepted = false;
    const QString typed = QInputDialog::getText(
        this, QStringLiteral("Abrir cabina"),
        QStringLiteral("Abrir %1.\nLímite de gasto (vacío: sin límite):").arg(booth), QLineEdit::Normal, QString(),
        &accepted);
    if (!accepted) return;
    std::optional<TMoney> limit;
    if (!typed.trimmed().isEmpty()) {
        const std::optional<std::int64_t> value = ParseDecimal(typed.trimmed(), 4);
        if (!value || *value <= 0) {
            ShowMessage(this, QStringLiteral("Ingrese un límite mayor que cero, o nada."));
            return;
        }
        limit = TMoney{*value};
    }
    OpenBooth(booth, limit);
}

// Checkout: the booth's unpaid calls on one bill, the cash and the change
// as the booth's own "Cobrar" shows them, the payments, the receipt, and
// the booth closed. A bill the customer does not pay leaves the booth open.
void TCounterWindow::CloseBoothClicked() {
    const QString booth = SelectedBooth();
    if (booth.isEmpty()) {
        ShowMessage(this, QStringLiteral("Elija una cabina."));
        return;
    }
    Guarded([&] {
        const std::vector<TShopCall> calls = Db_->UnpaidCalls(booth);
        for (const TShopCall& call : calls)
            if (call.Call.NeedsRate())
                throw std::logic_error(QStringLiteral("La llamada al %1 no tiene tarifa: cóbrela en la cabina.")
                                           .arg(call.Call.Number)
                                           .toStdString());
        if (!calls.empty()) {
            const QLocale locale = MoneyLocale(this->locale());
            TCheckoutDialog dialog(BillTotal(calls), QStringLiteral("%1 (%2 llamadas)").arg(booth).arg(calls.size()),
                                   locale, this);
            if (dialog.exec() != QDialog::Accepted) return;
            const std::optional<TMoney> received = dialog.Received();
            if (!received) return;
            std::vector<std::int64_t> ids;
            for (const TShopCall& call : calls) ids.push_back(call.Call.Id);
            Db_->Charge(booth, ids);
            if (dialog.PrintReceipt()) {
                const TBoothSettings settings;
                PrintWithDialog(this, SessionReceiptHtml(booth, calls, *received, settings.ReadShop(), locale),
                                QStringLiteral("Recibo"));
            }
        }
        const std::vector<TBoothRow> rows = Db_->Booths();
        const TBoothRow* row = FindBooth(rows, booth);
        if (row && row->SessionOpen()) Db_->CloseSession(booth);
    });
}

int TCounterWindow::CheckoutBooth(const QString& booth) {
    int charged = 0;
    Guarded([&] {
        const std::vector<TShopCall> calls = Db_->UnpaidCalls(booth);
        std::vector<std::int64_t> ids;
        for (const TShopCall& call : calls)
            if (!call.Call.NeedsRate()) ids.push_back(call.Call.Id);
        if (!ids.empty()) Db_->Charge(booth, ids);
        charged = static_cast<int>(ids.size());
        const std::vector<TBoothRow> rows = Db_->Booths();
        const TBoothRow* row = FindBooth(rows, booth);
        if (row && row->SessionOpen()) Db_->CloseSession(booth);
    });
    return charged;
}

void TCounterWindow::ShopCloseClicked() {
    Guarded([&] {
        TShopCloseWindow window(*Db_, [this] { return AdminGuard_->Allow(); }, this);
        window.exec();
    });
}
