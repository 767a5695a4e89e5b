// The till's windows and papers: the receipt and the close rendered to PDF
// and read back with pdftotext, the close window over a real journal, the
// checkout's change, the rates dialog and the administrator PIN.
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "app/till/booth_documents.h"
#include "app/till/journal_db.h"
#include "app/ui/cash_close_window.h"
#include "app/ui/checkout_dialog.h"
#include "app/ui/document_printer.h"
#include "app/ui/rates_dialog.h"
#include "tests/app/booth_test_support.h"
#include "tests/app/modal_driver.h"
#include "tests/app/test_registry.h"

namespace {

const QDateTime kMorning(QDate(2026, 12, 8), QTime(9, 0), Qt::LocalTime);
const QLocale kArgentina(QLocale::Spanish, QLocale::Argentina);
const TShopSettings kShop{QStringLiteral("Locutorio El Sol"), QStringLiteral("Av. Corrientes 1234, CABA"),
                          QStringLiteral("Cabina 3"), TMoney{}};

// The PDF's text with every run of blanks (the no-break space of the
// currency format included) as one space, so table layout does not matter.
QString PdfText(const QString& pdf) {
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    if (!process.waitForFinished(30000) || process.exitCode() != 0) return QStringLiteral("<pdftotext failed>");
    QString text = QString::fromUtf8(process.readAllStandardOutput());
    text.replace(QChar(0x00A0), u' ');
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    return text.replace(blanks, QStringLiteral(" "));
}

TJournalCall EndedCall(const QString& destination, int seconds, TMoney cost, TMoney price) {
    TJournalCall call;
    call.Id = 7;
    call.Started = kMorning;
    call.Number = QStringLiteral("5491155550000");
    call.DialString = QStringLiteral("005491155550000");
    call.Destination = destination;
    call.Answered = kMorning.addSecs(4);
    call.Ended = kMorning.addSecs(4 + seconds);
    call.State = TJournalState::Ended;
    call.Figures = {seconds, seconds / 60 + 1, cost, price};
    return call;
}

// Writes a finished call to the journal and returns its id.
std::int64_t JournalCall(TCallJournal& journal, const QDateTime& at, int seconds, TMoney cost, TMoney price) {
    const std::int64_t id = journal.Placed(at, QStringLiteral("5411"), QStringLiteral("005411"));
    journal.Rated(id, QStringLiteral("Argentina"), MoneyFromUnits(150));
    journal.Answered(id, at.addSecs(2));
    journal.Ended(id, at.addSecs(2 + seconds), {seconds, seconds / 60 + 1, cost, price}, 200, QStringLiteral("BYE"));
    return id;
}

#define VERIFY_CONTAINS(text, part) QVERIFY2((text).contains(part), qPrintable(QString(part) + " not in:\n" + (text)))

}  // namespace

class TillDocuments : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        ClearBoothSettings();
        QVERIFY(Folder_.isValid());
        QVERIFY2(!QStandardPaths::findExecutable("pdftotext").isEmpty(), "pdftotext (poppler-utils) is missing");
    }

    void receiptPdfCarriesTheCallsFigures() {
        TJournalCall call =
            EndedCall(QStringLiteral("Perú - Lima <móvil>"), 61, MoneyFromUnits(300), MoneyFromHundredths(27050));
        const QString first = Folder_.filePath("receipt.pdf");
        WritePdf(ReceiptHtml(call, kShop, kArgentina, false), first, ReceiptPageSize());
        const QString text = PdfText(first);
        for (const QString& part :
             {QStringLiteral("Locutorio El Sol"), QStringLiteral("Av. Corrientes 1234, CABA"),
              QStringLiteral("Cabina: Cabina 3"), QStringLiteral("Fecha: 08/12/2026 09:00:00"),
              QStringLiteral("Número: 5491155550000"), QStringLiteral("Destino: Perú - Lima <móvil>"),
              QStringLiteral("Duración: 0:01:01"), QStringLiteral("Importe: $ 270,50")})
            VERIFY_CONTAINS(text, part);
        QVERIFY(!text.contains("COPIA"));
        QVERIFY(!text.contains("Vuelto"));

        call.PaidAt = kMorning.addSecs(90);
        call.AmountReceived = MoneyFromUnits(500);
        const QString copy = Folder_.filePath("copy.pdf");
        WritePdf(ReceiptHtml(call, kShop, kArgentina, true), copy, ReceiptPageSize());
        const QString again = PdfText(copy);
        for (const QString& part : {QStringLiteral("COPIA"), QStringLiteral("Recibido: $ 500,00"),
                                    QStringLiteral("Vuelto: $ 229,50"), QStringLiteral("Importe: $ 270,50")})
            VERIFY_CONTAINS(again, part);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 WritePdf(ReceiptHtml(call, kShop, kArgentina, true),
                                          Folder_.filePath("no/such/folder/r.pdf"), ReceiptPageSize()));
    }

    // Corrections of the close take the administrator's word: a refused
    // check leaves the journal as it was; a voided payment is asked about,
    // kept for the audit, and leaves the call to be charged again.
    void closeCorrectionsAskTheAdministrator_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("paidCall");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<QString>("answer");  // the button pressed on the box, if one shows
        QTest::addColumn<int>("checks");  // how often the administrator was asked
        QTest::addColumn<QStringList>("seen");
        QTest::addColumn<bool>("paidAfter");
        const QString question = QStringLiteral("Softphone Telvira|¿Anular el cobro de $\u00A0360,00 de la llamada a 5411?");
        const QString notPaid = QStringLiteral("Softphone Telvira|La llamada no fue cobrada.");
        QTest::newRow("void, refused") << "voidPaymentButton" << true << false << "" << 1
                                       << QStringList{} << true;
        QTest::newRow("void, allowed, not confirmed")
            << "voidPaymentButton" << true << true << "no" << 1 << QStringList{question} << true;
        QTest::newRow("void, allowed") << "voidPaymentButton" << true << true << "yes" << 1 << QStringList{question}
                                       << false;
        QTest::newRow("void of an unpaid call") << "voidPaymentButton" << false << true
                                                << "ok" << 0
                                                << QStringList{notPaid} << false;
        QTest::newRow("late charge, refused") << "chargeButton" << false << false << "" << 1
                                              << QStringList{} << false;
        QTest::newRow("charge of a paid call") << "chargeButton" << true << true
                                               << "ok" << 0
                                               << QStringList{QStringLiteral("Softphone Telvira|La llamada ya fue cobrada.")}
                                               << true;
    }
    void closeCorrectionsAskTheAdministrator() {
        QFETCH(QString, button);
        QFETCH(bool, paidCall);
        QFETCH(bool, allowed);
        QFETCH(QString, answer);
        QFETCH(int, checks);
        QFETCH(QStringList, seen);
        QFETCH(bool, paidAfter);
        TBoothSettings settings;
        TJournalDb db(Folder_.filePath(QStringLiteral("corrections-%1.sqlite").arg(QTest::currentDataTag())));
        TCallJournal journal(db);
        const std::int64_t id = JournalCall(journal, kMorning, 61, MoneyFromUnits(300), MoneyFromUnits(360));
        if (paidCall) journal.Paid(id, kMorning.addSecs(100), MoneyFromUnits(400));
        int asked = 0;
        TCashCloseWindow window(db, settings, [] { return kMorning.addSecs(200); }, [&] {
            ++asked;
            return allowed;
        });
        window.setLocale(kArgentina);
        auto* table = Find<QTableView>(&window, "callTable");
        table->selectRow(0);
        const QMap<QString, QMessageBox::StandardButton> buttons{
            {"yes", QMessageBox::Yes}, {"no", QMessageBox::No}, {"ok", QMessageBox::Ok}};
        TModalDriver driver(answer.isEmpty() ? QList<TModalAnswer>{}
                                             : QList<TModalAnswer>{TModalAnswer::Pressed(buttons.value(answer))});
        Find<QPushButton>(&window, button.toLatin1().constData())->click();
        QTRY_COMPARE_WITH_TIMEOUT(driver.Seen(), seen, 30000);
        QCOMPARE(asked, checks);
        QCOMPARE(journal.Call(id)->IsPaid(), paidAfter);
        const bool voided = paidCall && !paidAfter;
        QCOMPARE(journal.VoidedPayments(id), voided ? 1 : 0);
        QCOMPARE(window.Totals().Takings, paidAfter ? MoneyFromUnits(360) : TMoney{});
        if (voided) {
            // Charged again later, as any unpaid call.
            journal.Paid(id, kMorning.addSecs(300), MoneyFromUnits(360));
            QVERIFY(journal.Call(id)->IsPaid());
            QVERIFY_THROWS_EXCEPTION(std::logic_error, journal.VoidPayment(id + 1, kMorning));
        }
    }

    // A day with a paid call, an unpaid one and an unanswered one, and a
    // shift over the first two; the window's figures, its CSV and its PDF
    // must agree.
    void closeWindowOverTheJournal() {
        ClearBoothSettings();
        TBoothSettings settings;
        settings.WriteShop(kShop);
        TJournalDb db(Folder_.filePath("close.sqlite"));
        TCallJournal journal(db);
        QDateTime clock = kMorning;
        TCashCloseWindow window(db, settings, [&clock] { return clock; }, [] { return true; });
        window.setLocale(kArgentina);
        window.OpenShift(MoneyFromUnits(1000));
        const std::int64_t paid =
            JournalCall(journal, kMorning.addSecs(60), 61, MoneyFromUnits(300), MoneyFromUnits(360));
        journal.Paid(paid, kMorning.addSecs(200), MoneyFromUnits(400));
        JournalCall(journal, kMorning.addSecs(300), 30, MoneyFromUnits(150), MoneyFromUnits(180));
        const std::int64_t unanswered = journal.Placed(kMorning.addSecs(400), "999", "999");
        journal.Ended(unanswered, kMorning.addSecs(410), {}, 486, QStringLiteral("Busy Here"));
        JournalCall(journal, kMorning.addDays(1), 10, MoneyFromUnits(150), MoneyFromUnits(180));  // the next day

        clock = kMorning.addSecs(500);
        const TShift shift = window.CloseShift(MoneyFromUnits(1350));
        QCOMPARE(shift.Expected, MoneyFromUnits(1360));
        QCOMPARE(window.Totals().Calls, 3);

        window.ShowDay(kMorning.date());
        const TCloseTotals totals = window.Totals();
        QCOMPARE(totals, (TCloseTotals{3, 2, 91, 3, MoneyFromUnits(450), MoneyFromUnits(540), MoneyFromUnits(360),
                                       MoneyFromUnits(90), 1, MoneyFromUnits(180)}));
        // The database's sums agree with the calls added up one by one.
        QCOMPARE(CloseTotals(window.FullReport().Calls), totals);
        QCOMPARE(Find<QTableView>(&window, "callTable")->model()->rowCount(), 3);
        const QString shown = Find<QLabel>(&window, "totals")->text().replace(QChar(0x00A0), u' ');
        VERIFY_CONTAINS(shown, "Margen: $ 90,00");
        VERIFY_CONTAINS(shown, "Sin cobrar: 1 ($ 180,00)");

        const QString csvFile = Folder_.filePath("close.csv");
        window.ExportCsv(csvFile);
        QFile csv(csvFile);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(csv.readAll()).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].startsWith("Fecha y hora;Número;Destino"));
        QCOMPARE(lines[1], QStringLiteral("2026-12-08 09:01:00;5411;Argentina;0:01:01;2;150,00;300,00;360,00;"
                                          "terminada;Llamada finalizada;sí;"));
        QCOMPARE(lines[3], QStringLiteral("2026-12-08 09:06:40;999;;0:00:00;0;0,00;0,00;0,00;no atendida;"
                                          "Ocupado;no;"));

        window.ShowShift(shift.Id);
        const QString pdf = Folder_.filePath("close.pdf");
        window.ExportPdf(pdf);
        const QString text = PdfText(pdf);
        for (const QString& part :
             {QStringLiteral("Cierre de caja"), QStringLiteral("Locutorio El Sol - Cabina 3"),
              QStringLiteral("Llamadas: 3"), QStringLiteral("Costo proveedor: $ 450,00"),
              QStringLiteral("Ventas: $ 540,00"), QStringLiteral("Recaudado: $ 360,00"),
              QStringLiteral("Margen: $ 90,00"), QStringLiteral("Sin cobrar: 1 ($ 180,00)"),
              QStringLiteral("Fondo inicial: $ 1.000,00"), QStringLiteral("Efectivo esperado: $ 1.360,00"),
              QStringLiteral("Efectivo contado: $ 1.350,00"), QStringLiteral("Diferencia: ($ 10,00)")})
            VERIFY_CONTAINS(text, part);
    }

    void checkoutShowsTheChange_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("change");
        QTest::newRow("exact") << "270,50" << true << "$ 0,00";
        QTest::newRow("a note") << "500" << true << "$ 229,50";
        QTest::newRow("point for comma") << "300.5" << true << "$ 30,00";
        QTest::newRow("short") << "270,49" << false << "---";
        QTest::newRow("thousands are not guessed") << "1.234" << false << "---";
        QTest::newRow("no amount") << "abc" << false << "---";
    }
    void checkoutShowsTheChange() {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        QFETCH(QString, change);
        TCheckoutDialog dialog(MoneyFromHundredths(27050), "5411", kArgentina);
        QCOMPARE(Find<QLineEdit>(&dialog, "receivedField")->text(), QStringLiteral("270,50"));
        Find<QLineEdit>(&dialog, "receivedField")->setText(typed);
        QCOMPARE(Find<QPushButton>(&dialog, "chargeButton")->isEnabled(), accepted);
        QCOMPARE(dialog.Received().has_value(), accepted);
        QCOMPARE(Find<QLabel>(&dialog, "change")->text().replace(QChar(0x00A0), u' '), change);
    }

    void ratesDialogReadsBackWhatItShows() {
        TSellingRates rates;
        rates.Factor = 18333;
        rates.Minimum = MoneyFromHundredths(50);
        rates.RoundingStep = MoneyFromHundredths(5);
        rates.IncrementSeconds = 6;
        rates.Rules = {{"54", TPrefixRule::TKind::Factor, TMoney{}, 20000},
                       {"5411", TPrefixRule::TKind::Price, MoneyFromHundredths(180), kUnitFactor}};
        TRatesDialog dialog;
        dialog.Fill(rates, kShop);
        QString fault;
        QCOMPARE(dialog.Rates(&fault), std::optional<TSellingRates>(rates));
        QCOMPARE(dialog.Shop(), kShop);
        QVERIFY(dialog.NewPin().isEmpty());
        Find<QLineEdit>(&dialog, "factorField")->setText("1,2,3");
        QVERIFY(!dialog.Rates(&fault));
        QCOMPARE(fault, QStringLiteral("El factor debe ser un número como 1,25."));
        Find<QLineEdit>(&dialog, "factorField")->setText("1");
        dialog.AddRule();  // an empty prefix is no prefix
        QVERIFY(!dialog.Rates(&fault));
        QCOMPARE(fault, QStringLiteral("Falta el prefijo en la fila 3."));
    }

    void adminPinIsKeptSaltedAndHashed() {
        ClearBoothSettings();
        TBoothSettings settings;
        QVERIFY(!settings.HasAdminPin());
        settings.WriteAdminPin(QStringLiteral("4321"));
        QVERIFY(settings.HasAdminPin());
        QVERIFY(settings.AdminPinMatches(QStringLiteral("4321")));
        QVERIFY(!settings.AdminPinMatches(QStringLiteral("1234")));
        QVERIFY(!settings.AdminPinMatches(QString()));
        QFile file(settings.FileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray stored = file.readAll();
        QVERIFY(stored.contains("[Admin]"));
        QVERIFY(!stored.contains("4321"));
        // The same PIN stored twice is not the same text (salted).
        const QString before = QSettings(settings.FileName(), QSettings::IniFormat).value("Admin/pin").toString();
        settings.WriteAdminPin(QStringLiteral("4321"));
        const QString after = QSettings(settings.FileName(), QSettings::IniFormat).value("Admin/pin").toString();
        QVERIFY(before != after);
        QVERIFY(TBoothSettings().AdminPinMatches(QStringLiteral("4321")));
        // A damaged record keeps the guard shut.
        QSettings(settings.FileName(), QSettings::IniFormat).setValue("Admin/pin", "4321");
        QVERIFY(!TBoothSettings().AdminPinMatches(QStringLiteral("4321")));
        settings.WriteAdminPin(QString());
        QVERIFY(!TBoothSettings().HasAdminPin());
    }

    // Texts from the portal and the line as CSV fields: a spreadsheet must
    // neither split them nor run them as formulas.
    void csvFields_data() {
        QTest::addColumn<QString>("destination");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("fields");  // destination to reason
        QTest::newRow("answered") << "Perú" << 200 << "BYE" << "Perú;0:00:00;0;1,50;0,75;150,00;terminada;Llamada finalizada";
        QTest::newRow("no status") << "X" << 0 << "interrumpida"
                                   << "X;0:00:00;0;1,50;0,75;150,00;no atendida;interrumpida";
        QTest::newRow("busy, in words") << "Lima, Perú" << 486 << "Busy Here"
                                        << "\"Lima, Perú\";0:00:00;0;1,50;0,75;150,00;no atendida;Ocupado";
        QTest::newRow("semicolon") << "A;B" << 404 << "Not Found"
                                   << "\"A;B\";0:00:00;0;1,50;0,75;150,00;no atendida;Número no válido";
        QTest::newRow("quote") << "A \"B\"" << 0 << "" << "\"A \"\"B\"\"\";0:00:00;0;1,50;0,75;150,00;no atendida;";
        QTest::newRow("formula") << "=HYPERLINK(\"x\")" << 0 << "@SUM(1)"
                                 << "\"'=HYPERLINK(\"\"x\"\")\";0:00:00;0;1,50;0,75;150,00;no atendida;'@SUM(1)";
    }
    void csvFields() {
        QFETCH(QString, destination);
        QFETCH(int, status);
        QFETCH(QString, reason);
        QFETCH(QString, fields);
        TJournalCall call = EndedCall(destination, 0, TMoney{7500}, TMoney{1500000});
        call.Rate = TMoney{15000};
        call.Answered = status == 200 ? call.Started : QDateTime();
        call.Figures.ChargedMinutes = 0;
        call.SipStatus = status;
        call.EndReason = reason;
        const QStringList lines = CloseCsv({call}).split("\r\n");
        QCOMPARE(lines.size(), 3);  // header, the call, nothing after the last CRLF
        QCOMPARE(lines[1], "2026-12-08 09:00:00;5491155550000;" + fields + ";no;");
    }

    // Words that were cut off: the state of a call a crash left open, and
    // the kind of a selling rule.
    void wordsShownWhole() {
        ClearBoothSettings();
        TBoothSettings settings;
        const QString file = Folder_.filePath("whole.sqlite");
        {
            TJournalDb db(file);
            TCallJournal(db).Placed(kMorning, QStringLiteral("5411"), QStringLiteral("005411"));
        }
        TJournalDb db(file);  // the open call is now "interrumpida"
        TCashCloseWindow window(db, settings, [] { return kMorning.addSecs(60); }, [] { return true; });
        window.ShowDay(kMorning.date());
        auto* table = Find<QTableView>(&window, "callTable");
        QCOMPARE(table->model()->index(0, 6).data().toString(), QStringLiteral("interrumpida"));
        // What the item delegate needs: the text and its margins.
        const int margin = table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1;
        QVERIFY(table->columnWidth(6) >= table->fontMetrics().horizontalAdvance(QStringLiteral("interrumpida")) + 2 * margin);

        TRatesDialog rates;
        Find<QPushButton>(&rates, "addRuleButton")->click();
        auto* rules = Find<QTableWidget>(&rates, "rulesTable");
        auto* kind = qobject_cast<QComboBox*>(rules->cellWidget(0, 1));
        QVERIFY(kind);
        QCOMPARE(kind->currentText(), QStringLiteral("Precio por minuto"));
        QVERIFY(rules->columnWidth(1) >= kind->sizeHint().width());
    }

    // An address typed into the settings file by hand, with its comma and
    // without quotes, reads back whole.
    void shopAddressWrittenByHand() {
        ClearBoothSettings();
        const QString file = TBoothSettings().FileName();
        QFile raw(file);
        QVERIFY(raw.open(QIODevice::WriteOnly | QIODevice::Truncate));
        raw.write("[Shop]\nname=Locutorio Sol\naddress=Av. de Mayo 100, Buenos Aires\nbooth=2\n");
        raw.close();
        QCOMPARE(TBoothSettings().ReadShop(), (TShopSettings{"Locutorio Sol", "Av. de Mayo 100, Buenos Aires", "2", TMoney{}}));
    }

private:
    QTemporaryDir Folder_;
};
BOOTH_TEST_CLASS(TillDocuments);

#include "till_documents_test.moc"
