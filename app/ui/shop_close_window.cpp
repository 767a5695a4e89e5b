#include "app/ui/shop_close_window.h"

#include <exception>
#include <stdexcept>

#include <QBoxLayout>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPageSize>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>

#include "app/money/amount_text.h"
#include "app/till/booth_documents.h"
#include "app/booth/booth_settings.h"
#include "app/counter/counter_db.h"
#include "app/ui/document_printer.h"
#include "app/ui/message_boxes.h"

namespace {

void Fill(QTableWidget* table, int row, const QStringList& cells) {
    for (int column = 0; column < cells.size(); ++column) {
        auto* item = new QTableWidgetItem(cells[column]);
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        if (column > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table->setItem(row, column, item);
    }
}

QTableWidget* Table(QWidget* parent, const QStringList& headers, const char* name) {
    auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->hide();
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return table;
}

}  // namespace

TShopCloseWindow::TShopCloseWindow(TCounterDb& db, TCorrectionCheck allowCorrection, QWidget* parent)
    : QDialog(parent), Db_(db), AllowCorrection_(std::move(allowCorrection)) {
    BuildLayout();
    ShowDays(QDate::currentDate(), QDate::currentDate());
}

void TShopCloseWindow::BuildLayout() {
    setWindowTitle(QStringLiteral("Cierre de caja - todas las cabinas"));
    auto* column = new QVBoxLayout(this);
    auto* period = new QHBoxLayout;
    First_ = new QDateEdit(QDate::currentDate(), this);
    Last_ = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit* edit : {First_, Last_}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    }
    auto* show = new QPushButton(QStringLiteral("&Mostrar"), this);
    period->addWidget(new QLabel(QStringLiteral("Desde:"), this));
    period->addWidget(First_);
    period->addWidget(new QLabel(QStringLiteral("Hasta:"), this));
    period->addWidget(Last_);
    period->addWidget(show);
    period->addStretch(1);
    column->addLayout(period);
    Booths_ = Table(this,
                    {QStringLiteral("Cabina"), QStringLiteral("Llamadas"), QStringLiteral("Duración"),
                     QStringLiteral("Costo proveedor"), QStringLiteral("Ventas"), QStringLiteral("Cobrado"),
                     QStringLiteral("Sin cobrar"), QStringLiteral("Anulados")},
                    "boothTotals");
    Operators_ = Table(this, {QStringLiteral("Operador"), QStringLiteral("Cobros"), QStringLiteral("Cobrado")},
                       "operatorTotals");
    CallTable_ = Table(this,
                       {QStringLiteral("Cabina"), QStringLiteral("Fecha y hora"), QStringLiteral("Número"),
                        QStringLiteral("Duración"), QStringLiteral("A cobrar"), QStringLiteral("Cobrada por")},
                       "calls");
    column->addWidget(new QLabel(QStringLiteral("Por cabina"), this));
    column->addWidget(Booths_, 2);
    column->addWidget(new QLabel(QStringLiteral("Por operador"), this));
    column->addWidget(Operators_, 1);
    column->addWidget(new QLabel(QStringLiteral("Llamadas"), this));
    column->addWidget(CallTable_, 3);
    auto* cash = new QFormLayout;
    Counted_ = new QLineEdit(this);
    Counted_->setObjectName(QStringLiteral("counted"));
    Cash_ = new QLabel(this);
    Cash_->setObjectName(QStringLiteral("cash"));
    cash->addRow(QStringLiteral("Efectivo contado:"), Counted_);
    cash->addRow(Cash_);
    column->addLayout(cash);
    auto* buttons = new QHBoxLayout;
    auto* voidButton = new QPushButton(QStringLiteral("&Anular cobro"), this);
    auto* csv = new QPushButton(QStringLiteral("Exportar &CSV"), this);
    auto* pdf = new QPushButton(QStringLiteral("Exportar &PDF"), this);
    auto* done = new QPushButton(QStringLiteral("C&errar"), this);
    for (QPushButton* button : {voidButton, csv, pdf, done}) buttons->addWidget(button);
    column->addLayout(buttons);
    connect(show, &QPushButton::clicked, this, [this] { ShowDays(First_->date(), Last_->date()); });
    connect(Counted_, &QLineEdit::textChanged, this, &TShopCloseWindow::ShowCash);
    connect(voidButton, &QPushButton::clicked, this, [this] {
        const QModelIndexList rows = CallTable_->selectionModel()->selectedRows();
        if (rows.isEmpty()) return;
        VoidRow(rows.front().row());
    });
    connect(csv, &QPushButton::clicked, this, [this] { ExportClicked(false); });
    connect(pdf, &QPushButton::clicked, this, [this] { ExportClicked(true); });
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    resize(860, 640);
}

void TShopCloseWindow::ShowDays(const QDate& first, const QDate& last) {
    First_->setDate(first);
    Last_->setDate(last < first ? first : last);
    Reload();
}

QString TShopCloseWindow::Period() const {
    const QString format = QStringLiteral("dd/MM/yyyy");
    if (First_->date() == Last_->date()) return QStringLiteral("Día %1").arg(First_->date().toString(format));
    return QStringLiteral("Del %1 al %2").arg(First_->date().toString(format), Last_->date().toString(format));
}

void TShopCloseWindow::Reload() {
    const QDateTime from = First_->date().startOfDay();
    const QDateTime to = Last_->date().addDays(1).startOfDay();
    Close_ = Db_.Close(from, to);
    Calls_ = Db_.Calls(from, to);
    const QLocale locale = MoneyLocale(this->locale());
    auto money = [&locale](TMoney amount) { return FormatCurrency(amount, locale); };
    auto totalsCells = [&](const QString& name, const TCloseTotals& totals) {
        return QStringList{name,
                           QString::number(totals.Calls),
                           DurationText(totals.Seconds),
                           money(totals.ProviderCost),
                           money(totals.Sales),
                           money(totals.Takings),
                           QStringLiteral("%1 (%2)").arg(totals.Unpaid).arg(money(totals.UnpaidAmount)),
                           QString::number(totals.VoidedPayments)};
    };
    Booths_->setRowCount(static_cast<int>(Close_.PerBooth.size()) + 1);
    int row = 0;
    for (const TBoothTotals& booth : Close_.PerBooth) Fill(Booths_, row++, totalsCells(booth.Booth, booth.Totals));
    Fill(Booths_, row, totalsCells(QStringLiteral("Total"), Close_.All));
    Operators_->setRowCount(static_cast<int>(Close_.PerOperator.size()));
    row = 0;
    for (const TOperatorTotals& person : Close_.PerOperator)
        Fill(Operators_, row++, {person.Operator, QString::number(person.Payments), money(person.Takings)});
    CallTable_->setRowCount(static_cast<int>(Calls_.size()));
    row = 0;
    for (const TShopCall& call : Calls_)
        Fill(CallTable_, row++,
             {call.Booth, call.Call.Started.toLocalTime().toString(QStringLiteral("dd/MM HH:mm:ss")), call.Call.Number,
              DurationText(call.Call.Figures.Seconds), money(call.Call.Figures.CustomerPrice), call.PaidBy});
    ShowCash();
}

std::optional<TMoney> TShopCloseWindow::Counted() const {
    const std::optional<std::int64_t> value = ParseDecimal(Counted_->text().trimmed(), 4);
    if (!value) return std::nullopt;
    return TMoney{*value};
}

void TShopCloseWindow::ShowCash() {
    const QLocale locale = MoneyLocale(this->locale());
    QString text = QStringLiteral("Caja inicial: %1   Esperado: %2")
                       .arg(FormatCurrency(Close_.OpeningCash, locale), FormatCurrency(Close_.Expected, locale));
    if (const std::optional<TMoney> counted = Counted())
        text += QStringLiteral("   Diferencia: %1").arg(FormatCurrency(CashDifference(Close_, *counted), locale));
    Cash_->setText(text);
}

void TShopCloseWindow::VoidRow(int row) {
    if (row < 0 || row >= static_cast<int>(Calls_.size())) return;
    const TShopCall call = Calls_[static_cast<std::size_t>(row)];
    if (!call.Call.IsPaid()) {
        ShowMessage(this, QStringLiteral("La llamada no fue cobrada."));
        return;
    }
    if (!AllowCorrection_()) return;
    try {
        if (!Db_.VoidPayment(call.Booth, call.Call.Id)) ShowMessage(this, QStringLiteral("La llamada no fue cobrada."));
    } catch (const std::exception& error) {
        ShowError(this, QString::fromUtf8(error.what()));
    }
    Reload();
}

QString TShopCloseWindow::ExportFolder() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).filePath(QStringLiteral("cierres"));
}

void TShopCloseWindow::ExportCsv(const QString& fileName) const {
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error(("No se pudo guardar " + fileName + ": " + file.errorString()).toStdString());
    file.write(ShopCloseCsv(Calls_).toUtf8());
    if (!file.flush()) throw std::runtime_error(("No se pudo guardar " + fileName).toStdString());
}

void TShopCloseWindow::ExportPdf(const QString& fileName) const {
    const TBoothSettings settings;
    WritePdf(ShopCloseHtml(Period(), Close_, Counted(), settings.ReadShop().Name, MoneyLocale(locale())), fileName,
             QPageSize(QPageSize::A4));
}

// No file dialog: as at the booth, one would let anyone rename or delete
// any file.
void TShopCloseWindow::ExportClicked(bool pdf) {
    try {
        if (!QDir().mkpath(ExportFolder()))
            throw std::runtime_error(("No se pudo crear la carpeta " + ExportFolder()).toStdString());
        const QString fileName = QDir(ExportFolder()).filePath(QDateTime::currentDateTime().toString(
            pdf ? QStringLiteral("'tienda-'yyyyMMdd-HHmmss'.pdf'") : QStringLiteral("'tienda-'yyyyMMdd-HHmmss'.csv'")));
        if (pdf)
            ExportPdf(fileName);
        else
            ExportCsv(fileName);
        ShowMessage(this, QStringLiteral("Guardado en %1").arg(fileName));
    } catch (const std::exception& error) {
        ShowError(this, QString::fromUtf8(error.what()));
    }
}
