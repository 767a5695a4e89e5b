// The window as the operator reads and types into it, offscreen: the number
// field's cleaning, the register with every value whole, Qt's standard
// buttons in Spanish, money in a locale without a currency. The SIP server
// given is a loopback port where nothing answers.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QTest>

#include "app/booth/booth_texts.h"
#include "app/booth/call_rules.h"
#include "app/ui/qt_translation.h"
#include "tests/app/booth_test_support.h"
#include "tests/app/modal_driver.h"
#include "tests/app/portal_sim.h"
#include "tests/app/test_registry.h"

namespace {

// Five calls with values as long as a busy booth's register holds.
QStringList FullRegisterConfig() {
    QStringList config = TestPortalConfig().mid(0, 2);
    const char* calls[][5] = {{"2026-12-07 23:59", "005491155551234", "Argentina Celular", "01:05:59", "1234.50"},
                              {"2026-12-07 22:10", "0034911234567", "España Madrid", "00:00:30", "0.80"},
                              {"2026-12-06 09:05", "0015550109999", "Estados Unidos", "00:12:00", "36.00"},
                              {"2026-12-05 18:45", "00525512345678", "México Celular", "00:03:10", "12.75"},
                              {"2026-12-01 10:00", "999456", "Servicio", "00:01:00", "0.00"}};
    for (const auto& call : calls)
        config << QStringLiteral("call|%1|%2|%3|%4|%5|%6")
                      .arg(QString::fromLatin1(kTestAccount), SimField(call[0]), SimField(call[1]),
                           SimField(QString::fromUtf8(call[2])), SimField(call[3]), SimField(call[4]));
    return config;
}

// What the grid's style does with a cell's text: the delegate's leading
// space, the focus margins on both sides, and an ellipsis when the rest is
// too narrow.
QString ShownText(QTableWidget* grid, int row, int column) {
    const QString text = grid->item(row, column)->text();
    const QString drawn = (RegisterCellStyle(column).LeadingSpace ? QStringLiteral(" ") : QString()) + text;
    const int margin = grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1;
    const QRect cell = grid->visualRect(grid->model()->index(row, column));
    if (!grid->viewport()->rect().contains(cell)) return QString();
    const QString shown = QFontMetrics(grid->font()).elidedText(drawn, Qt::ElideRight, cell.width() - 2 * margin);
    return shown == drawn ? text : shown;
}

}  // namespace

class BoothWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseBoothTestLocale(); }
    void init() { ClearBoothSettings(); }

    void numberField_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("pasted");
        QTest::addColumn<QString>("kept");
        QTest::newRow("typed with blanks and dashes") << "+54 (11) 5555-1234" << false << "00541155551234";
        QTest::newRow("pasted with blanks and dashes") << "+54 (11) 5555-1234" << true << "00541155551234";
        QTest::newRow("dots") << "011.4555.1234" << false << "01145551234";
        QTest::newRow("letters") << "12ab3" << false << "123";
        QTest::newRow("service code") << "*99#" << false << "*99#";
        QTest::newRow("plus inside") << "54+11" << true << "5411";
        QTest::newRow("blank before plus") << " +34 91" << true << "003491";
    }
    void numberField() {
        QFETCH(QString, input);
        QFETCH(bool, pasted);
        QFETCH(QString, kept);
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        auto* number = Find<QLineEdit>(window.get(), "number");
        number->setFocus();
        if (pasted) {
            QGuiApplication::clipboard()->setText(input);
            number->paste();
        } else {
            QTest::keyClicks(number, input);
        }
        QCOMPARE(number->text(), kept);
        QCOMPARE(number->cursorPosition(), kept.size());
    }

    void registerShowsEveryValueWhole() {
        TBoothSettings().WriteAccount({kTestAccount, kTestPassword, QString(), QString()});
        TPortalSim sim(FullRegisterConfig());
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto* grid = Find<QTableWidget>(window.get(), "register");
        QCOMPARE(grid->item(4, 1)->text(), QStringLiteral("999456"));
        for (int row = 0; row < 5; ++row)
            for (int column = 0; column < 5; ++column)
                QCOMPARE(ShownText(grid, row, column), grid->item(row, column)->text());
        QVERIFY(!grid->verticalScrollBar()->isVisible());
    }

    // The status bar's notes, the longest included, are read whole and
    // never under the version.
    void statusPanelsStandApart_data() {
        QTest::addColumn<QString>("note");
        for (const char* note : {kSipServerSilentText, kAccountRefusedText, kStatusLineText, kValidatingText})
            QTest::newRow(note) << QString::fromUtf8(note);
    }
    void statusPanelsStandApart() {
        QFETCH(QString, note);
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto* text = Find<QLabel>(window.get(), "textPanel");
        text->setText(note);
        const QLabel* panels[] = {Find<QLabel>(window.get(), "connectionPanel"), text,
                                  Find<QLabel>(window.get(), "versionPanel")};
        for (const QLabel* panel : panels) {
            QVERIFY2(panel->fontMetrics().horizontalAdvance(panel->text()) <= panel->contentsRect().width(),
                     qPrintable(panel->text()));
            for (const QLabel* other : panels)
                if (other != panel) QVERIFY(!panel->geometry().intersects(other->geometry()));
        }
    }

    void standardButtonsInSpanish() {
        QVERIFY(InstallQtSpanish(*qApp));
        QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("q"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
        QStringList texts;
        for (auto button : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok, QMessageBox::Cancel})
            texts << box.button(button)->text().remove(u'&');
        QCOMPARE(texts, (QStringList{"Sí", "No", "Aceptar", "Cancelar"}));
        // The booth's own closing question.
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        TModalDriver boxes({TModalAnswer::Pressed(QMessageBox::No)});
        QVERIFY(!window->close());
        QStringList shown = boxes.Buttons();
        for (QString& text : shown) text.remove(u'&');
        shown.sort();
        QCOMPARE(shown, (QStringList{"No", "Sí"}));
    }

    // The agent refuses the call (its engine is off): the error is shown
    // and the booth is free again with every control back.
    void callRefusedByTheAgent() {
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        TModalDriver boxes({TModalAnswer::Pressed(QMessageBox::Ok)});
        Find<QLineEdit>(window.get(), "number")->setText(QStringLiteral("5491155550000"));
        QVERIFY(QMetaObject::invokeMethod(window.get(), "CallClicked"));
        QCOMPARE(boxes.Seen(), QStringList{QStringLiteral("Softphone Telvira|not active")});
        QCOMPARE(Find<QLabel>(window.get(), "boothState")->text(), QStringLiteral("Libre"));
        QCOMPARE(Find<QLabel>(window.get(), "textPanel")->text(), QStringLiteral("Llamada no realizada"));
        QVERIFY(Find<QLineEdit>(window.get(), "number")->isEnabled());
        QVERIFY(Find<QAction>(window.get(), "audioDialogAction")->isEnabled());
        QVERIFY(Find<QAction>(window.get(), "accountDialogAction")->isEnabled());
        QVERIFY(!window->CallFlow().IsOpen());
    }

    // A booth whose system has no locale set shows money like its captions.
    void moneyWithoutALocaleCurrency() {
        TBoothSettings().WriteAccount({kTestAccount, kTestPassword, QString(), QString()});
        TPortalSim sim(TestPortalConfig());
        TModalDriver boxes;
        QLocale::setDefault(QLocale::c());
        auto window = MakeWindow(sim.BaseUrl());
        const bool started = StartAndWait(*window);
        UseBoothTestLocale();
        QVERIFY(started);
        QCOMPARE(Find<QLabel>(window.get(), "balance")->text(), QStringLiteral("$\u00a01.234,57"));
    }
};
BOOTH_TEST_CLASS(BoothWindow);

#include "booth_window_test.moc"
