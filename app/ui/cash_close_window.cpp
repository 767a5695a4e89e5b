#include "app/ui/cash_close_window.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

#include "app/booth/booth_settings.h"
#include "app/money/amount_text.h"
#include "app/till/call_journal.h"
#include "app/till/call_list_model.h"
#include "app/till/journal_db.h"
#include "app/till/selling_rate_store.h"
#include "app/till/shift_journal.h"
#include "app/ui/document_printer.h"
#include "app/ui/message_boxes.h"

namespace {

constexpr int kShiftsListed = 50;

QPushButton* Button(QWidget* parent, const char* text, const char* name) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

QString ShiftName(const TShift& shift) {
    const QString opened = shift.Opened.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm"));
    if (shift.IsOpen()) return QStringLiteral("Turno %1 (abierto desde %2)").arg(shift.Id).arg(opened);
    return QStringLiteral("Turno %1 (%2 a %3)")
        .arg(shift.Id)
        .arg(opened, shift.Closed.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")));
}

// An amount asked in a small dialog; empty when cancelled or not an amount.
std::optional<TMoney> AskAmount(QWidget* parent, const QString& title, const QString& label) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent, title, label, QLineEdit::Normal, QString(), &ok);
    if (!ok) return std::nullopt;
    const std::optional<std::int64_t> value = ParseDecimal(text, 2);
    if (!value) {
        ShowError(parent, QStringLiteral("El importe no es válido."));
        return std::nullopt;
    }
    return TMoney{*value};
}

}  // namespace

TCashCloseWindow::TCashCloseWindow(TJournalDb& db, const TBoothSettings& settings, TClock clock,
                                   TCorrectionCheck allowCorrection, QWidget* parent)
    : QDialog(parent),
      Db_(db),
      Settings_(settings),
      Clock_(std::move(clock)),
      AllowCorrection_(std::move(allowCorrection)),
      Journal_(std::make_unique<TCallJournal>(db)),
      Shifts_(std::make_unique<TShiftJournal>(db)),
      Till_(std::make_unique<TTill>(*Journal_, settings, Clock_, [this] { return LoadSellingRates(Db_); })) {
    setObjectName(QStringLiteral("cashCloseWindow"));
    setWindowTitle(QStringLiteral("Cierre de caja"));
    BuildLayout();
    FillShiftList();
    ShowDay(Clock_().toLocalTime().date());
}

TCashCloseWindow::~TCashCloseWindow() = default;

void TCashCloseWindow::BuildLayout() {
    resize(800, 560);
    auto* layout = new QVBoxLayout(this);
    auto* period = new QHBoxLayout;
    ByDay_ = new QRadioButton(QStringLiteral("Día:"), this);
    ByDay_->setObjectName(QStringLiteral("byDay"));
    ByDay_->setChecked(true);
    DayEdit_ = new QDateEdit(this);
    DayEdit_->setObjectName(QStringLiteral("dayEdit"));
    DayEdit_->setCalendarPopup(true);
    DayEdit_->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    LastDayEdit_ = new QDateEdit(this);
    LastDayEdit_->setObjectName(QStringLiteral("lastDayEdit"));
    LastDayEdit_->setCalendarPopup(true);
    LastDayEdit_->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    ByShift_ = new QRadioButton(QStringLiteral("Turno:"), this);
    ByShift_->setObjectName(QStringLiteral("byShift"));
    ShiftList_ = new QComboBox(this);
    ShiftList_->setObjectName(QStringLiteral("shiftList"));
    ShiftList_->setMinimumWidth(260);
    QPushButton* show = Button(this, "&Mostrar", "showButton");
    period->addWidget(ByDay_);
    period->addWidget(DayEdit_);
    period->addWidget(new QLabel(QStringLiteral("a"), this));
    period->addWidget(LastDayEdit_);
    period->addWidget(ByShift_);
    period->addWidget(ShiftList_);
    period->addWidget(show);
    period->addStretch();
    layout->addLayout(period);
    connect(show, &QPushButton::clicked, this, [this] {
        if (ByShift_->isChecked() && ShiftList_->currentIndex() >= 0)
            ShowShift(ShiftList_->currentData().toLongLong());
        else
            ShowDays(DayEdit_->date(), std::max(DayEdit_->date(), LastDayEdit_->date()));
    });

    Model_ = new TCallListModel(MoneyLocale(locale()), this);
    Table_ = new QTableView(this);
    Table_->setObjectName(QStringLiteral("callTable"));
    Table_->setModel(Model_);
    Table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table_->setSelectionMode(QAbstractItemView::SingleSelection);
    Table_->verticalHeader()->hide();
    Table_->verticalHeader()->setDefaultSectionSize(18);
    // Fixed widths: sizing the columns to their contents would read every row.
    Table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    const int widths[] = {140, 110, 140, 65, 75, 75, 80, 55};
    for (int column = 0; column < 8; ++column) Table_->setColumnWidth(column, widths[column]);
    // The state's longest word, whole, whatever the font.
    constexpr int kStateColumn = 6;
    Table_->setColumnWidth(kStateColumn,
                           std::max(widths[kStateColumn],
                                    Table_->fontMetrics().horizontalAdvance(QStringLiteral("interrumpida")) + 16));
    layout->addWidget(Table_, 1);

    TotalsLabel_ = new QLabel(this);
    TotalsLabel_->setObjectName(QStringLiteral("totals"));
    TotalsLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(TotalsLabel_);

    auto* shiftBox = new QGroupBox(QStringLiteral("Turno"), this);
    auto* shiftLayout = new QHBoxLayout(shiftBox);
    ShiftState_ = new QLabel(shiftBox);
    ShiftState_->setObjectName(QStringLiteral("shiftState"));
    QPushButton* open = Button(shiftBox, "&Abrir turno", "openShiftButton");
    QPushButton* close = Button(shiftBox, "C&errar turno", "closeShiftButton");
    shiftLayout->addWidget(ShiftState_, 1);
    shiftLayout->addWidget(open);
    shiftLayout->addWidget(close);
    layout->addWidget(shiftBox);
    connect(open, &QPushButton::clicked, this, &TCashCloseWindow::OpenShiftClicked);
    connect(close, &QPushButton::clicked, this, &TCashCloseWindow::CloseShiftClicked);

    auto* buttons = new QHBoxLayout;
    QPushButton* charge = Button(this, "C&obrar", "chargeButton");
    QPushButton* voidPayment = Button(this, "A&nular cobro", "voidPaymentButton");
    QPushButton* reprint = Button(this, "&Reimprimir recibo", "reprintButton");
    QPushButton* csv = Button(this, "Exportar &CSV", "exportCsvButton");
    QPushButton* print = Button(this, "&Imprimir", "printButton");
    QPushButton* done = Button(this, "Ce&rrar", "doneButton");
    for (QPushButton* button : {charge, voidPayment, reprint, csv, print}) buttons->addWidget(button);
    buttons->addStretch();
    buttons->addWidget(done);
    layout->addLayout(buttons);
    connect(charge, &QPushButton::clicked, this, &TCashCloseWindow::ChargeClicked);
    connect(voidPayment, &QPushButton::clicked, this, &TCashCloseWindow::VoidPaymentClicked);
    connect(reprint, &QPushButton::clicked, this, &TCashCloseWindow::ReprintClicked);
    connect(csv, &QPushButton::clicked, this, &TCashCloseWindow::ExportCsvClicked);
    connect(print, &QPushButton::clicked, this, &TCashCloseWindow::PrintClicked);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
}

void TCashCloseWindow::FillShiftList() {
    ShiftList_->clear();
    for (const TShift& shift : Shifts_->Recent(kShiftsListed)) ShiftList_->addItem(ShiftName(shift), qint64(shift.Id));
    ShowShiftState();
}

void TCashCloseWindow::ShowShiftState() {
    const std::optional<TShift> current = Shifts_->Current();
    ShiftState_->setText(current ? QStringLiteral("Turno abierto desde %1, fondo inicial %2")
                                       .arg(current->Opened.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")),
                                            FormatCurrency(current->OpeningCash, MoneyLocale(locale())))
                                 : QStringLiteral("Sin turno abierto"));
}

void TCashCloseWindow::ShowDays(const QDate& first, const QDate& last) {
    Days_ = {first, last};
    ShiftId_.reset();
    ByDay_->setChecked(true);
    DayEdit_->setDate(first);
    LastDayEdit_->setDate(last);
    const QString format = QStringLiteral("dd/MM/yyyy");
    Period_ = first == last ? QStringLiteral("Día %1").arg(first.toString(format))
                            : QStringLiteral("Del %1 al %2").arg(first.toString(format), last.toString(format));
    Shift_.reset();
    From_ = first.startOfDay();
    To_ = last.addDays(1).startOfDay();
    ShowPeriod();
}

void TCashCloseWindow::ShowShift(std::int64_t shiftId) {
    std::optional<TShift> chosen;
    for (const TShift& shift : Shifts_->Recent(kShiftsListed))
        if (shift.Id == shiftId) chosen = shift;
    if (!chosen) return;
    ShiftId_ = shiftId;
    Days_.reset();
    ByShift_->setChecked(true);
    ShiftList_->setCurrentIndex(ShiftList_->findData(qint64(shiftId)));
    Period_ = ShiftName(*chosen);
    Shift_ = chosen;
    From_ = chosen->Opened;
    To_ = chosen->IsOpen() ? Clock_().addSecs(1) : chosen->Closed.addMSecs(1);
    ShowPeriod();
}

void TCashCloseWindow::Reload() {
    if (ShiftId_)
        ShowShift(*ShiftId_);
    else if (Days_)
        ShowDays(Days_->first, Days_->second);
}

TCloseReport TCashCloseWindow::FullReport() const { return {Period_, Journal_->Calls(From_, To_), Shift_}; }

void TCashCloseWindow::ShowPeriod() {
    Totals_ = JournalTotals(Db_, From_, To_);
    Model_->SetSource([this, from = From_, to = To_](const TJournalCall* after, int count) {
        return after ? Journal_->CallsAfter(from, to, *after, count) : Journal_->FirstCalls(from, to, count);
    });
    const TCloseTotals& totals = Totals_;
    auto money = [this](TMoney amount) { return FormatCurrency(amount, MoneyLocale(locale())); };
    QString text =
        QStringLiteral(
            "Llamadas: %1 (atendidas %2)   Tiempo: %3   Minutos: %4\n"
            "Costo proveedor: %5   Ventas: %6   Recaudado: %7   Margen: %8\n"
            "Sin cobrar: %9 (%10)\n"
            "Cobros anulados: %11   Con marcas del destino: %12   Cortadas por la cabina: %13")
            .arg(totals.Calls)
            .arg(totals.Answered)
            .arg(DurationText(totals.Seconds))
            .arg(totals.ChargedMinutes)
            .arg(money(totals.ProviderCost), money(totals.Sales), money(totals.Takings), money(totals.Margin))
            .arg(totals.Unpaid)
            .arg(money(totals.UnpaidAmount))
            .arg(totals.VoidedPayments)
            .arg(totals.Flagged)
            .arg(totals.Cut);
    if (Shift_ && !Shift_->IsOpen()) {
        text += QStringLiteral("\nEfectivo esperado: %1   Contado: %2   Diferencia: %3")
                    .arg(money(Shift_->Expected), money(Shift_->Counted), money(Shift_->Difference()));
    }
    TotalsLabel_->setText(text);
}

void TCashCloseWindow::ExportCsv(const QString& fileName) const {
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(CloseCsv(FullReport().Calls).toUtf8()) < 0)
        throw std::runtime_error(("No se pudo guardar " + fileName + ": " + file.errorString()).toStdString());
}

void TCashCloseWindow::ExportPdf(const QString& fileName) const {
    WritePdf(CloseHtml(FullReport(), Settings_.ReadShop(), MoneyLocale(locale())), fileName, QPageSize(QPageSize::A4));
}

void TCashCloseWindow::OpenShift(TMoney openingCash) {
    const TShift shift = Shifts_->Open(Clock_(), openingCash);
    FillShiftList();
    ShowShift(shift.Id);
}

TShift TCashCloseWindow::CloseShift(TMoney counted) {
    const TShift shift = Shifts_->Close(Clock_(), counted);
    FillShiftList();
    ShowShift(shift.Id);
    return shift;
}

std::optional<std::int64_t> TCashCloseWindow::SelectedCall() const {
    const QModelIndexList rows = Table_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return std::nullopt;
    return Model_->Calls()[rows.front().row()].Id;
}

// The shift holds the cash counted: opening or closing it is the
// administrator's.
void TCashCloseWindow::OpenShiftClicked() {
    if (!AllowCorrection_()) return;
    const std::optional<TMoney> cash =
        AskAmount(this, QStringLiteral("Abrir turno"), QStringLiteral("Efectivo en caja al abrir:"));
    if (!cash) return;
    try {
        OpenShift(*cash);
    } catch (const std::exception& error) {
        ShowError(this, QString::fromUtf8(error.what()));
    }
}

void TCashCloseWindow::CloseShiftClicked() {
    if (!AllowCorrection_()) return;
    const std::optional<TMoney> counted =
        AskAmount(this, QStringLiteral("Cerrar turno"), QStringLiteral("Efectivo contado en caja:"));
    if (!counted) return;
    try {
        const TShift shift = CloseShift(*counted);
        ShowMessage(this, QStringLiteral("Efectivo esperado: %1\nEfectivo contado: %2\nDiferencia: %3")
                              .arg(FormatCurrency(shift.Expected, MoneyLocale(locale())),
                                   FormatCurrency(shift.Counted, MoneyLocale(locale())),
                                   FormatCurrency(shift.Difference(), MoneyLocale(locale()))));
    } catch (const std::exception& error) {
        ShowError(this, QString::fromUtf8(error.what()));
    }
}

QString TCashCloseWindow::ExportFolder() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
        .filePath(QStringLiteral("cierres"));
}

// One file per export, named for when it was made.
void TCashCloseWindow::ExportCsvClicked() {
    try {
        if (!QDir().mkpath(ExportFolder()))
            throw std::runtime_error(("No se pudo crear la carpeta " + ExportFolder()).toStdString());
        const QString fileName = QDir(ExportFolder()).filePath(
            Clock_().toString(QStringLiteral("'cierre-'yyyyMMdd-HHmmss'.csv'")));
        ExportCsv(fileName);
        ShowMessage(this, QStringLiteral("Cierre guardado en %1").arg(QDir::toNativeSeparators(fileName)));
    } catch (const std::exception& error) {
        ShowError(this, QString::fromUtf8(error.what()));
    }
}

void TCashCloseWindow::PrintClicked() {
    try {
        PrintWithDialog(this, CloseHtml(FullReport(), Settings_.ReadShop(), MoneyLocale(locale())),
                        QStringLiteral("Cierre de caja"));
    } catch (const std::exception& error) {
        ShowError(this, QString::fromUtf8(error.what()));
    }
}

void TCashCloseWindow::ChargeClicked() {
    const std::optional<std::int64_t> id = SelectedCall();
    if (!id) return;
    // A call already paid is only said so; no PIN is asked for that.
    const std::optional<TJournalCall> call = Journal_->Call(*id);
    if (call && !call->IsPaid() && !AllowCorrection_()) return;
    if (Till_->Checkout(this, *id)) Reload();
}

// The payment is named before it is taken back: the row may have been
// chosen by a slip of the hand.
void TCashCloseWindow::VoidPaymentClicked() {
    const std::optional<std::int64_t> id = SelectedCall();
    if (!id) return;
    const std::optional<TJournalCall> call = Journal_->Call(*id);
    if (!call || !call->IsPaid()) {
        ShowError(this, QStringLiteral("La llamada no fue cobrada."));
        return;
    }
    if (!AllowCorrection_()) return;
    const QString question = QStringLiteral("¿Anular el cobro de %1 de la llamada a %2?")
                                 .arg(FormatCurrency(call->Figures.CustomerPrice, MoneyLocale(locale())), call->Number);
    if (!AskYesNo(this, question)) return;
    try {
        Journal_->VoidPayment(*id, Clock_());
    } catch (const std::exception& error) {
        ShowError(this, QString::fromUtf8(error.what()));
    }
    Reload();
}

void TCashCloseWindow::ReprintClicked() {
    if (const std::optional<std::int64_t> call = SelectedCall()) Till_->Reprint(this, *call);
}
