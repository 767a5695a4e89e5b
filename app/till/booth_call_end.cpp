#include "app/till/booth_call_end.h"

#include "app/booth/booth_call_flow.h"
#include "app/booth/booth_texts.h"
#include "app/booth/call_rules.h"
#include "app/guards/call_guards.h"
#include "app/guards/guard_notes.h"
#include "app/portal/balance_watch.h"
#include "app/till/call_recorder.h"

TBoothCallEnd::TBoothCallEnd(TBoothCallFlow& flow, TCallRecorder& recorder, TCallGuards& guards, TGuardNotes& notes,
                             TBalanceWatch* balanceWatch, TEndedCallProbe probe, IBoothCallEndView& view,
                             QObject* parent)
    : QObject(parent),
      Flow_(flow),
      Recorder_(recorder),
      Guards_(guards),
      Notes_(notes),
      BalanceWatch_(balanceWatch),
      Probe_(std::move(probe)),
      View_(view) {
    connect(&Flow_, &TBoothCallFlow::Ended, this, &TBoothCallEnd::Ended);
}

void TBoothCallEnd::Cut(const QString& reason, const QString& note) {
    Notes_.Acted(note);
    Recorder_.Cut(reason);
    View_.ShowStatusNote(Notes_.Text(), Notes_.Alarm());
    Flow_.HangUp();
}

void TBoothCallEnd::ProgramClosing() {
    if (Flow_.IsOpen()) Recorder_.Ended(0, QString::fromUtf8(kProgramClosedReason));
    Flow_.HangUp();
}

void TBoothCallEnd::Ended(const TCallEnd& end) {
    const TEndedCallFacts facts = Probe_ ? Probe_() : TEndedCallFacts{};

    Guards_.CallEnded();
    Notes_.CallEnded();
    if (BalanceWatch_) BalanceWatch_->Stop();

    Recorder_.Ended(end.Status, end.Reason, facts.Quality);
    View_.ShowTill();

    View_.ShowBoothFree();
    const QString endText = facts.MediaTimedOut ? QString::fromUtf8(kNoMediaText) : CallEndText(end);
    View_.ShowStatusNote(Notes_.Any() ? Notes_.Text() : endText, Notes_.Alarm());

    View_.PrepareNextCall(!end.Refused);
}
