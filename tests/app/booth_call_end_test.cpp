// The booth's call end in one place: each way a call ends (the far end, a
// refusal, the credit guard's cut, the media timeout, a flagged answer, the
// program closing) as the journal keeps it and the window is told to show
// it, in order.
#include <memory>
#include <stdexcept>

#include <QTemporaryDir>
#include <QTest>

#include "app/booth/booth_call_flow.h"
#include "app/booth/booth_texts.h"
#include "app/booth/call_rules.h"
#include "app/guards/call_guards.h"
#include "app/guards/guard_notes.h"
#include "app/till/booth_call_end.h"
#include "app/till/call_recorder.h"
#include "app/till/journal_db.h"
#include "tests/app/call_flow_fakes.h"
#include "tests/app/test_registry.h"

namespace {

// What the window was told, one line per step; the journal's row as the
// till's figures were shown.
class TRecordingView : public IBoothCallEndView {
public:
    TRecordingView(TCallJournal& journal, TCallRecorder& recorder) : Journal_(journal), Recorder_(recorder) {}

    void ShowTill() override {
        Steps << QStringLiteral("till");
        if (Recorder_.LastCallId()) AtTill = Journal_.Call(*Recorder_.LastCallId());
    }
    void ShowBoothFree() override { Steps << QStringLiteral("free"); }
    void ShowStatusNote(const QString& text, bool alarm) override {
        Steps << QStringLiteral("note");
        Note = text;
        Alarm = alarm;
    }
    void PrepareNextCall(bool refresh) override { Steps << (refresh ? QStringLiteral("refresh") : QStringLiteral("next")); }

    QStringList Steps;
    QString Note;
    bool Alarm = false;
    std::optional<TJournalCall> AtTill;

private:
    TCallJournal& Journal_;
    TCallRecorder& Recorder_;
};

enum class TEnding { FarEnd, Busy, Refused, CreditCut, MediaTimeout, FlaggedThenFarEnd, ProgramClosed };

struct TEndCase {
    const char* Name;
    TEnding Ending;
    QString Note;
    bool Alarm;
    int SipStatus;          // in the journal
    QString EndReason;      // in the journal
    QString CutReason;      // in the journal
    QStringList Steps;      // what the window was told, in order
};

// One booth with its own journal, flow and guards.
struct TBooth {
    explicit TBooth(const QString& file)
        : Db(file),
          Journal(Db),
          Recorder(&Journal, [] { return QDateTime::currentDateTime(); }, {}),
          Flow(Line, Rates, Clock),
          Guards(TGuardSettings{}, {}),
          View(Journal, Recorder),
          End(Flow, Recorder, Guards, Notes, nullptr, [this] { return Facts; }, View) {
        QObject::connect(&Flow, &TBoothCallFlow::Placed, &Flow,
                         [this](const QString& typed, const QString& dial) { Recorder.Placed(typed, dial); });
        QObject::connect(&Flow, &TBoothCallFlow::Answered, &Flow, [this] { Recorder.Answered(); });
    }

    TJournalDb Db;
    TCallJournal Journal;
    TCallRecorder Recorder;
    TFakeLine Line;
    TFakeRates Rates;
    TManualClock Clock;
    TBoothCallFlow Flow;
    TCallGuards Guards;
    TGuardNotes Notes;
    TEndedCallFacts Facts;
    TRecordingView View;
    TBoothCallEnd End;
};

}  // namespace

class BoothCallEnd : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(Folder_.isValid()); }

    void eachEndingAsJournalledAndShown() {
        const QStringList ended{"till", "free", "note", "refresh"};
        const TEndCase cases[] = {
            {"far end hangs up", TEnding::FarEnd, kCallFinishedText, false, 200, "BYE", "", ended},
            {"busy", TEnding::Busy, "Ocupado (486)", false, 486, "Busy Here", "", ended},
            {"refused by the line", TEnding::Refused, kCallNotPlacedText, false, 0, "not active", "",
             {"till", "free", "note", "next"}},
            // The cut is shown at once and stays over "Llamada finalizada".
            {"credit guard cut", TEnding::CreditCut, kCreditHangUpText, true, 200, "BYE", kCreditCutReason,
             {"note", "till", "free", "note", "refresh"}},
            {"media timeout", TEnding::MediaTimeout, kNoMediaText, false, 200, "BYE", "", ended},
            // A flag outranks the end's own note, the media timeout's too.
            {"flagged, then the far end", TEnding::FlaggedThenFarEnd, kNoAudioText, true, 200, "BYE", "", ended},
            // The journal closes before the line is asked; the line's end
            // later changes nothing in it.
            {"program closed", TEnding::ProgramClosed, kCallFinishedText, false, 0, kProgramClosedReason, "", ended},
        };
        int file = 0;
        for (const TEndCase& c : cases) {
            TBooth booth(Folder_.filePath(QStringLiteral("end%1.sqlite").arg(++file)));
            booth.Line.Refuse = c.Ending == TEnding::Refused;
            try {
                booth.Flow.Place(QStringLiteral("541155551234"));
            } catch (const std::runtime_error&) {
                QVERIFY2(c.Ending == TEnding::Refused, c.Name);
            }
            if (c.Ending != TEnding::Refused) {
                const TLineCallId call = booth.Flow.LineCall();
                if (c.Ending != TEnding::Busy) {
                    booth.Flow.LineAnswered(call);
                    booth.Clock.Seconds(5);
                }
                if (c.Ending == TEnding::CreditCut) {
                    booth.End.Cut(QString::fromUtf8(kCreditCutReason), QString::fromUtf8(kCreditHangUpText));
                    QVERIFY2(booth.Line.HungUp == std::vector<TLineCallId>{call}, c.Name);
                }
                if (c.Ending == TEnding::ProgramClosed) {
                    booth.End.ProgramClosing();
                    QVERIFY2(booth.Line.HungUp == std::vector<TLineCallId>{call}, c.Name);
                }
                if (c.Ending == TEnding::MediaTimeout || c.Ending == TEnding::FlaggedThenFarEnd)
                    booth.Facts.MediaTimedOut = true;
                if (c.Ending == TEnding::FlaggedThenFarEnd) booth.Notes.Flagged({QString::fromUtf8(kNoAudioText)});
                if (c.Ending == TEnding::Busy)
                    booth.Flow.LineEnded(call, 486, QStringLiteral("Busy Here"));
                else
                    booth.Flow.LineEnded(call, 200, QStringLiteral("BYE"));
            }
            QVERIFY2(booth.View.Steps == c.Steps, qPrintable(QStringLiteral("%1: %2").arg(c.Name, booth.View.Steps.join(' '))));
            QVERIFY2(booth.View.Note == QString(c.Note), qPrintable(QStringLiteral("%1: %2").arg(c.Name, booth.View.Note)));
            QVERIFY2(booth.View.Alarm == c.Alarm, c.Name);
            // The till showed a call the journal had already closed.
            QVERIFY2(booth.View.AtTill && booth.View.AtTill->Ended.isValid(), c.Name);
            QVERIFY2(booth.View.AtTill->SipStatus == c.SipStatus, c.Name);
            QVERIFY2(booth.View.AtTill->EndReason == c.EndReason, qPrintable(booth.View.AtTill->EndReason));
            QVERIFY2(booth.View.AtTill->CutReason == c.CutReason, c.Name);
        }
    }

    // The guards' notes stay with the call they belong to: the next call
    // starts without the last one's cut or flags.
    void notesBelongToOneCall() {
        TGuardNotes notes;
        notes.Warned(QString::fromUtf8(kOneMinuteLeftText));
        notes.Flagged({QString::fromUtf8(kFalseAnswerText)});
        QCOMPARE(notes.Text(), QStringLiteral("%1, %2").arg(kOneMinuteLeftText, kFalseAnswerText));
        notes.Acted(QString::fromUtf8(kCreditHangUpText));
        QCOMPARE(notes.Text(), QStringLiteral("%1, %2").arg(kCreditHangUpText, kFalseAnswerText));
        notes.CallEnded();
        QVERIFY(notes.Alarm());
        QCOMPARE(notes.Text(), QStringLiteral("%1, %2").arg(kCreditHangUpText, kFalseAnswerText));
        notes.CallPlaced();
        QVERIFY(!notes.Any());
        QVERIFY(!notes.Alarm());
        notes.Warned(QString::fromUtf8(kTenSecondsLeftText));
        notes.CallEnded();
        QVERIFY(!notes.Any());
    }

private:
    QTemporaryDir Folder_;
};

BOOTH_TEST_CLASS(BoothCallEnd);

#include "booth_call_end_test.moc"
