// Calls from the booth window through a real registrar (Kamailio on
// 127.0.0.1:5060, account alice/alicepw) to SIPp peers, with the portal
// simulator pricing them (callers reach the booth through the registrar,
// which answers their requests to it): a whole booth session, a call refused before
// answer, and an incoming call abandoned during a conversation. The call
// timer is driven by the test, so no real minutes pass.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <memory>
#include <vector>

#include "app/booth/booth_texts.h"
#include "app/booth/call_clock.h"
#include "app/money/money.h"
#include "app/till/call_journal.h"
#include "app/till/call_recorder.h"
#include "app/till/journal_db.h"
#include "app/till/journal_writer.h"
#include "app/till/selling_rate_store.h"
#include "app/ui/cash_close_window.h"
#include "media/warning_tone.h"
#include "media/wav.h"
#include "tests/app/booth_test_support.h"
#include "tests/app/kamailio_process.h"
#include "tests/app/modal_driver.h"
#include "tests/app/portal_sim.h"
#include "tests/app/sipp_peer.h"
#include "tests/app/test_registry.h"
#include "tests/media/audio_test_util.h"

namespace {

constexpr int kSipMs = 30000;  // a bound only a fault reaches

// Balance in hundred-thousandths, as the portal writes it: 1000.00 pays a
// few minutes at the 150.00 rate, so the credit guard leaves the call alone.
QStringList AliceConfig(const QString& balance = QStringLiteral("100000000")) {
    return {QStringLiteral("account|alice|alicepw|Alice|%1").arg(balance),
            QStringLiteral("call|alice|%1|00541155551234|%2|00:01:00|300.00")
                .arg(SimField("2026-12-07 23:00"), SimField("Argentina Buenos Aires")),
            QStringLiteral("rate|5411|%1|150").arg(SimField("Argentina Buenos Aires"))};
}

QString Text(QObject* window, const char* label) { return Find<QLabel>(window, label)->text(); }

QString Currency(qint64 units) { return FormatCurrency(MoneyFromUnits(units), QLocale()); }

int BalanceRequests(const TPortalSim& sim) {
    int count = 0;
    for (const QString& target : sim.Targets()) count += target.endsWith(u"&ac=cr") ? 1 : 0;
    return count;
}

// One tick of the call timer, a second after the last one: the call's
// clock is moved on with it, since the duration is read from that clock.
void Tick(QObject* window) {
    auto* clock = window->findChild<TQtCallClock*>();
    QVERIFY(clock);
    const std::chrono::milliseconds now = clock->Now() + std::chrono::seconds(1);
    clock->SetTimeSource([now] { return now; });
    QVERIFY(QMetaObject::invokeMethod(Find<QTimer>(window, "callTimer"), "timeout"));
}

// Ticks until the duration shows `shown` (at most 70 ticks).
void TickUntil(QObject* window, const QString& shown) {
    for (int i = 0; i < 70 && Text(window, "duration") != shown; ++i) Tick(window);
    QCOMPARE(Text(window, "duration"), shown);
}

// "&Llamar" also waits for a number, so the panel tells.
bool ShowsOnline(QObject* window) { return Text(window, "connectionPanel") == QString::fromUtf8("En Línea"); }

int RegisterRequests(const TKamailioProcess& kamailio) {
    return static_cast<int>(kamailio.Log().count(QStringLiteral("REQ REGISTER ")));
}

// A 20 ms window holds the credit warning's pitch at about a tenth of the
// beeps' own level or more.
bool HasBeep(const std::vector<int16_t>& window) {
    return media_test::TonePower(window, media::kWarningToneFrequency) > 1.7e6;
}

// The beeps in what the booth's speaker played (a WAV file), -1 while the
// speaker has not completed it.
int BeepsHeard(const QString& fileName) {
    std::vector<int16_t> heard;
    try {
        media::TWavFile file(fileName.toStdString());
        heard.resize(static_cast<size_t>(file.GetSize() / 2));
        file.Read(heard.data(), static_cast<int>(heard.size() * 2));
    } catch (const std::exception&) {
        return -1;
    }
    if (heard.empty()) return -1;
    int beeps = 0;
    bool inBeep = false;
    for (size_t at = 0; at + 160 <= heard.size(); at += 80) {
        const bool beep = HasBeep({heard.begin() + static_cast<long>(at), heard.begin() + static_cast<long>(at + 160)});
        beeps += beep && !inBeep;
        inBeep = beep;
    }
    return beeps;
}

// Counts the frames the call sends and receives, and those with a beep.
class TBeepTap : public ISipRecorder {
public:
    void ReceivedFrame(const int16_t* pcm) override { ReceivedBeeps += HasBeep({pcm, pcm + 160}); }
    void SentFrame(const int16_t* pcm) override {
        ++Sent;
        SentBeeps += HasBeep({pcm, pcm + 160});
    }
    std::atomic<int> Sent{0}, SentBeeps{0}, ReceivedBeeps{0};
};

// The close's count of calls with the far end's flags, as "Cierre de caja"
// shows it for today.
int FlaggedInClose(TMainWindow& window) {
    TCashCloseWindow* close = window.OpenCashClose();
    if (!close) return -1;
    const QRegularExpression count(QStringLiteral("Con marcas del destino: (\\d+)"));
    const QRegularExpressionMatch match = count.match(Find<QLabel>(close, "totals")->text());
    close->hide();
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

bool ReadyForNextCall(QObject* window) {
    return Find<QPushButton>(window, "callButton")->isEnabled() && Find<QLineEdit>(window, "number")->isEnabled();
}

}  // namespace

class MainWindowCall : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        UseBoothTestLocale();
        if (!TSippPeer::Installed()) QSKIP("SIPp is not installed");
        qputenv("SOFTPHONE_MIC", "null");
        qputenv("SOFTPHONE_SPEAKER", "null");
        // Callers from SIPp reach the booth through the registrar without
        // credentials of their own.
        Kamailio_ = std::make_unique<TKamailioProcess>(QStringList{QStringLiteral("NOPROXYAUTH")});
        if (!Kamailio_->Ready()) QSKIP("Kamailio is not installed or did not start");
    }
    void cleanupTestCase() { Kamailio_.reset(); }
    void init() { ClearBoothSettings(); }

    // Start, on line, a call answered after ringing, timed and priced by
    // driven ticks, hung up, balance and register refreshed, closed.
    void wholeBoothSession() {
        // A stored capture device that has gone away; a playback device
        // stored in other letter case.
        TBoothSettings().WriteAccount({"alice", "alicepw", QStringLiteral("Gone Mic"), QStringLiteral("speaker two")});
        TPortalSim sim(AliceConfig());
        TSippPeer peer(QStringLiteral("uas_answer_late.xml"));
        // The customer pays 20% over the provider's rate.
        {
            TJournalDb journal(TJournalDb::DefaultFileName());
            TSellingRates rates;
            rates.Factor = 12000;
            SaveSellingRates(journal, rates);
        }
        // "Cobrar" with a 500 note and no receipt, then the closing question.
        TModalDriver boxes({TModalAnswer::Acted([](QWidget* checkout) {
                                Find<QLineEdit>(checkout, "receivedField")->setText(QStringLiteral("500"));
                                Find<QCheckBox>(checkout, "printReceipt")->setChecked(false);
                                Find<QPushButton>(checkout, "chargeButton")->click();
                            }),
                            TModalAnswer::Pressed(QMessageBox::Yes)});
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        QObject* w = window.get();
        QVERIFY(StartAndWait(*window));
        window->show();
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(w), kSipMs);
        QVERIFY(window->Journal());

        const QString typed = QStringLiteral("00541155551234@127.0.0.1:%1").arg(peer.Port());
        Find<QLineEdit>(w, "number")->setText(typed);
        Find<QPushButton>(w, "callButton")->click();
        QCOMPARE(Text(w, "boothState"), QStringLiteral("Timbrando"));
        QCOMPARE(Text(w, "phone"), typed);
        QVERIFY(!Find<QLineEdit>(w, "number")->isEnabled());
        QVERIFY(!Find<QPushButton>(w, "callButton")->isEnabled());
        QVERIFY(!Find<QAction>(w, "audioDialogAction")->isEnabled());
        QVERIFY(!Find<QAction>(w, "accountDialogAction")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "destination"), QStringLiteral("Argentina Buenos Aires"), kSipMs);
        QCOMPARE(Text(w, "ratePerMinute"), Currency(150));
        // The media layer's number of "Speaker Two" (not its place in the
        // list); a capture device that has gone away gives the default.
        QCOMPARE(window->CurrentCall()->GetSpeakerDevice(), 3);
        QCOMPARE(window->CurrentCall()->GetMicrophoneDevice(), -1);

        // While it rings a key still builds the number.
        Find<QPushButton>(w, "key7")->click();
        QCOMPARE(Find<QLineEdit>(w, "number")->text(), typed + QLatin1Char('7'));

        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Llamada en Curso"), kSipMs);
        auto* timer = Find<QTimer>(w, "callTimer");
        QVERIFY(timer->isActive());
        timer->stop();
        TickUntil(w, QStringLiteral("00:00:03"));
        QCOMPARE(Text(w, "totalCost"), Currency(150));
        QCOMPARE(Text(w, "amountToCharge"), Currency(180));
        // What the journal holds once its writer has committed what the
        // screen showed.
        const std::int64_t id = *window->Recorder().LastCallId();
        window->Journal()->Writer()->Drain();
        {
            TJournalDb reader(TJournalDb::DefaultFileName(), TJournalAccess::Reader);
            const TJournalCall running = *TCallJournal(reader).Call(id);
            QCOMPARE(running.State, TJournalState::Open);
            QCOMPARE(running.Figures.Seconds, 3);
            QCOMPARE(running.Figures.CustomerPrice, MoneyFromUnits(180));
        }
        QVERIFY(!Find<QPushButton>(w, "chargeCallButton")->isEnabled());
        TickUntil(w, QStringLiteral("00:00:59"));
        QCOMPARE(Text(w, "totalCost"), Currency(150));
        Tick(w);
        QCOMPARE(Text(w, "duration"), QStringLiteral("00:01:00"));
        QCOMPARE(Text(w, "totalCost"), Currency(300));
        QCOMPARE(Text(w, "amountToCharge"), Currency(360));

        // In conversation a key is a tone, not a digit.
        Find<QPushButton>(w, "key5")->click();
        QCOMPARE(Find<QLineEdit>(w, "number")->text(), typed + QLatin1Char('7'));

        // What start-up showed is wiped, so only the refresh can bring it back.
        Find<QLabel>(w, "balance")->clear();
        Find<QTableWidget>(w, "register")->clearContents();
        Find<QPushButton>(w, "hangUpButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Libre"), kSipMs);
        QTRY_VERIFY_WITH_TIMEOUT(ReadyForNextCall(w), kSipMs);
        QVERIFY(!timer->isActive());
        QVERIFY(Find<QAction>(w, "audioDialogAction")->isEnabled());
        QCOMPARE(BalanceRequests(sim), 1);
        QCOMPARE(Text(w, "balance"), FormatCurrency(MoneyFromUnits(1000), QLocale()));
        QTableWidgetItem* newest = Find<QTableWidget>(w, "register")->item(0, 2);
        QVERIFY(newest);
        QCOMPARE(newest->text(), QStringLiteral("Argentina Buenos Aires"));
        // The finished call stays on show until the next one.
        QCOMPARE(Text(w, "duration"), QStringLiteral("00:01:00"));
        QCOMPARE(Text(w, "totalCost"), Currency(300));
        QCOMPARE(Text(w, "amountToCharge"), Currency(360));
        QVERIFY(peer.Finish());

        // The record of the whole call, then "Cobrar".
        TJournalDb reader(TJournalDb::DefaultFileName(), TJournalAccess::Reader);
        TCallJournal journal(reader);
        TJournalCall call = *journal.Call(id);
        QCOMPARE(call.State, TJournalState::Ended);
        QCOMPARE(call.Number, typed);
        QCOMPARE(call.Destination, QStringLiteral("Argentina Buenos Aires"));
        QCOMPARE(call.Rate, MoneyFromUnits(150));
        QVERIFY(call.Answered.isValid());
        QVERIFY(call.Ended >= call.Answered);
        QCOMPARE(call.Figures, (TCallFigures{60, 2, MoneyFromUnits(300), MoneyFromUnits(360)}));
        // The peer sent no audio: no voice figures rather than a perfect score.
        QVERIFY(!call.Quality);
        QVERIFY(!call.IsPaid());
        QVERIFY(Find<QPushButton>(w, "chargeCallButton")->isEnabled());
        Find<QPushButton>(w, "chargeCallButton")->click();
        call = *journal.Call(id);
        QVERIFY(call.IsPaid());
        QCOMPARE(call.AmountReceived, MoneyFromUnits(500));
        QVERIFY(!Find<QPushButton>(w, "chargeCallButton")->isEnabled());
        QCOMPARE(Text(w, "amountToCharge"), Currency(360));
        // The call is over: "&Colgar" has nothing left to end.
        Find<QPushButton>(w, "hangUpButton")->click();
        QCOMPARE(Text(w, "boothState"), QStringLiteral("Libre"));

        QVERIFY(window->close());
        QCOMPARE(boxes.Seen().size(), 2);
    }

    // 300.00 of balance at 150.00 a minute pays two minutes: the operator
    // is warned at 00:01:00 and 00:01:50 with the cost in red, and the
    // booth hangs up at 00:01:59, before a third minute is charged. The
    // customer hears two beeps, then three, from the booth's speaker; the
    // far end hears none of them.
    void creditGuardWarnsAndHangsUp() {
        TBoothSettings().WriteAccount({"alice", "alicepw", QString(), QString()});
        QTemporaryDir folder;
        const QString speaker = folder.filePath(QStringLiteral("booth-speaker.wav"));
        qputenv("SOFTPHONE_SPEAKER", speaker.toLocal8Bit());
        struct TRestore {
            ~TRestore() { qunsetenv("SOFTPHONE_SPEAKER"); }
        } restore;
        TPortalSim sim(AliceConfig(QStringLiteral("30000000")));
        TSippPeer peer(QStringLiteral("uas_answer_late.xml"));
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        QObject* w = window.get();
        window->Start();
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(w), kSipMs);
        Find<QLineEdit>(w, "number")->setText(QStringLiteral("00541155551234@127.0.0.1:%1").arg(peer.Port()));
        Find<QPushButton>(w, "callButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "ratePerMinute"), Currency(150), kSipMs);
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Llamada en Curso"), kSipMs);
        Find<QTimer>(w, "callTimer")->stop();
        // The balance is read again during the call, here every 100 ms: the
        // same balance read over and over must not repeat or lose a warning.
        Find<QTimer>(w, "balanceTimer")->setInterval(100);
        const int balanceReads = BalanceRequests(sim);
        const auto tap = std::make_shared<TBeepTap>();
        window->CurrentCall()->SetRecorder(tap);
        auto* cost = Find<QLabel>(w, "totalCost");
        TickUntil(w, QStringLiteral("00:00:59"));
        QVERIFY(!cost->styleSheet().contains(u"red"));
        Tick(w);
        QCOMPARE(Text(w, "textPanel"), QStringLiteral("Queda 1 minuto de saldo"));
        QVERIFY(cost->styleSheet().contains(u"red"));
        QTest::qWait(1000);  // the ticks are driven, the beeps play in real time
        TickUntil(w, QStringLiteral("00:01:50"));
        QCOMPARE(Text(w, "textPanel"), QStringLiteral("Quedan 10 segundos de saldo"));
        QTest::qWait(1300);
        QCOMPARE(Text(w, "textPanel"), QStringLiteral("Quedan 10 segundos de saldo"));
        TickUntil(w, QStringLiteral("00:01:58"));
        QCOMPARE(Text(w, "boothState"), QStringLiteral("Llamada en Curso"));
        QVERIFY(BalanceRequests(sim) >= balanceReads + 5);
        QCOMPARE(Text(w, "balance"), Currency(300));
        Tick(w);
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Libre"), kSipMs);
        QCOMPARE(Text(w, "totalCost"), Currency(300));
        QVERIFY(!cost->styleSheet().contains(u"red"));
        QVERIFY(peer.Finish());
        QTRY_VERIFY_WITH_TIMEOUT(ReadyForNextCall(w), kSipMs);
        // The cut stays on screen until the next call, over the low-balance
        // note the refresh brings (300.00 is under ten minutes at 150.00).
        QCOMPARE(Text(w, "textPanel"), QStringLiteral("Saldo agotado: llamada cortada"));
        QCOMPARE(boxes.Seen(), QStringList{});
        QTRY_COMPARE_WITH_TIMEOUT(BeepsHeard(speaker), 5, kSipMs);
        QVERIFY(tap->Sent > 100);
        QCOMPARE(tap->SentBeeps.load(), 0);
        QCOMPARE(tap->ReceivedBeeps.load(), 0);
    }

    // Kamailio knows no "bob" on line: the call ends before answer and the
    // status bar says why. The second sound card of each kind is chosen.
    void callRefusedBeforeAnswer() {
        TBoothSettings().WriteAccount({"alice", "alicepw", QStringLiteral("Mic Two"), QStringLiteral("Speaker Two")});
        TPortalSim sim(AliceConfig());
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        QObject* w = window.get();
        QVERIFY(StartAndWait(*window));
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(w), kSipMs);
        Find<QLineEdit>(w, "number")->setText(QStringLiteral("bob"));
        Find<QPushButton>(w, "callButton")->click();
        QCOMPARE(window->CurrentCall()->GetMicrophoneDevice(), 4);
        QCOMPARE(window->CurrentCall()->GetSpeakerDevice(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(ReadyForNextCall(w), kSipMs);
        QCOMPARE(Text(w, "boothState"), QStringLiteral("Libre"));
        QCOMPARE(Text(w, "textPanel"), QStringLiteral("Número no válido (404)"));
        QCOMPARE(Text(w, "duration"), QStringLiteral("00:00:00"));
        QCOMPARE(Text(w, "totalCost"), Currency(0));
        QTest::qWait(500);
        QCOMPARE(BalanceRequests(sim), 1);
        QCOMPARE(boxes.Seen(), QStringList{});
    }

    // A caller who gives up on the booth while a customer talks must not end
    // the customer's timing and charging.
    void abandonedIncomingCallLeavesTheConversation() {
        TBoothSettings().WriteAccount({"alice", "alicepw", QString(), QString()});
        TPortalSim sim(AliceConfig());
        TSippPeer peer(QStringLiteral("uas_answer_late.xml"));
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        QObject* w = window.get();
        QVERIFY(StartAndWait(*window));
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(w), kSipMs);
        Find<QLineEdit>(w, "number")->setText(QStringLiteral("00541155551234@127.0.0.1:%1").arg(peer.Port()));
        Find<QPushButton>(w, "callButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Llamada en Curso"), kSipMs);
        {
            TSippPeer caller(QStringLiteral("uac_cancel.xml"), {"-s", "alice"}, QStringLiteral("127.0.0.1:5060"));
            QVERIFY(caller.Finish());
        }
        QTest::qWait(300);
        QCOMPARE(Text(w, "boothState"), QStringLiteral("Llamada en Curso"));
        QVERIFY(Find<QTimer>(w, "callTimer")->isActive());
        QVERIFY(!Find<QPushButton>(w, "callButton")->isEnabled());
        QCOMPARE(BalanceRequests(sim), 0);
        Find<QPushButton>(w, "hangUpButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(ReadyForNextCall(w), kSipMs);
        QVERIFY(peer.Finish());
        QCOMPARE(boxes.Seen(), QStringList{});
    }

    // A route that answers and sends no audio at all: "sin audio del
    // destino" comes up on the status bar in red during the call and stays
    // there over the end's own note once the operator hangs up; the call's
    // record keeps it and the close counts one more flagged call.
    void noAudioFlagShownAndKept() {
        TBoothSettings().WriteAccount({"alice", "alicepw", QString(), QString()});
        TPortalSim sim(AliceConfig());
        TSippPeer peer(QStringLiteral("uas_answer_late.xml"));
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        QObject* w = window.get();
        QVERIFY(StartAndWait(*window));
        window->show();
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(w), kSipMs);
        const int flaggedBefore = FlaggedInClose(*window);

        Find<QLineEdit>(w, "number")->setText(QStringLiteral("00541155551234@127.0.0.1:%1").arg(peer.Port()));
        Find<QPushButton>(w, "callButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Llamada en Curso"), kSipMs);
        const QString flag = QString::fromUtf8(kNoAudioText);
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "textPanel").contains(flag), kSipMs);
        QVERIFY(Find<QLabel>(w, "textPanel")->styleSheet().contains(QStringLiteral("red")));

        Find<QPushButton>(w, "hangUpButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(ReadyForNextCall(w), kSipMs);
        QCOMPARE(Text(w, "textPanel"), flag);
        QVERIFY(Find<QLabel>(w, "textPanel")->styleSheet().contains(QStringLiteral("red")));
        QVERIFY(peer.Finish());

        TJournalDb reader(TJournalDb::DefaultFileName(), TJournalAccess::Reader);
        const TJournalCall call = *TCallJournal(reader).Call(*window->Recorder().LastCallId());
        QCOMPARE(call.AnswerFlags, flag);
        QVERIFY(call.CutReason.isEmpty());  // a flag only: the booth did not end the call
        QCOMPARE(FlaggedInClose(*window), flaggedBefore + 1);
        QCOMPARE(boxes.Seen(), QStringList{});
    }

    // Closing during a conversation: No must leave the customer talking and
    // being timed; Yes must end the call at the far end, take the booth off
    // the registrar and keep its settings before the window goes.
    void closeQuestionDuringCall() {
        TBoothSettings().WriteAccount({"alice", "alicepw", QString(), QString()});
        TPortalSim sim(AliceConfig());
        TSippPeer peer(QStringLiteral("uas_answer_late.xml"));
        TModalDriver boxes({TModalAnswer::Pressed(QMessageBox::No), TModalAnswer::Pressed(QMessageBox::Yes)});
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        QObject* w = window.get();
        QVERIFY(StartAndWait(*window));
        window->show();
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(w), kSipMs);
        Find<QLineEdit>(w, "number")->setText(QStringLiteral("00541155551234@127.0.0.1:%1").arg(peer.Port()));
        Find<QPushButton>(w, "callButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Llamada en Curso"), kSipMs);
        auto* timer = Find<QTimer>(w, "callTimer");
        QVERIFY(timer->isActive());

        const QString question = QString::fromUtf8(kAppTitle) + QLatin1Char('|') +
                                 QStringLiteral("Hay una llamada en curso al 00541155551234@127.0.0.1:%1 (costo: %2).\n")
                                     .arg(peer.Port())
                                     .arg(Currency(150)) +
                                 QString::fromUtf8(kQuitQuestionText);
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "totalCost") == Currency(150), kSipMs);
        QVERIFY(!window->close());
        QCOMPARE(boxes.Seen(), QStringList{question});
        QVERIFY(window->isVisible());
        QCOMPARE(Text(w, "boothState"), QStringLiteral("Llamada en Curso"));
        // The real timer, not a driven tick: No must not have stopped it.
        QVERIFY(timer->isActive());
        const QString before = Text(w, "duration");
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "duration") != before, kSipMs);

        // Only the close may write the settings back from here on.
        ClearBoothSettings();
        const int registers = RegisterRequests(*Kamailio_);
        const QString microphone = Find<QComboBox>(w, "microphones")->currentText();
        const QString speaker = Find<QComboBox>(w, "speakers")->currentText();
        QVERIFY(window->close());
        QCOMPARE(boxes.Seen(), (QStringList{question, question}));
        QVERIFY(!window->isVisible());
        QVERIFY(!timer->isActive());
        QVERIFY(peer.Finish());
        QTRY_VERIFY_WITH_TIMEOUT(RegisterRequests(*Kamailio_) > registers, kSipMs);
        QCOMPARE(TBoothSettings().ReadAccount(), (TAccountSettings{"alice", "alicepw", microphone, speaker}));
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Libre"), kSipMs);
    }

private:
    std::unique_ptr<TKamailioProcess> Kamailio_;
};
BOOTH_TEST_CLASS(MainWindowCall);

#include "main_window_call_test.moc"
