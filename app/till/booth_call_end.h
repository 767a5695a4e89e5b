// What happens when the booth's call ends, in the order it happens, whatever
// ended it: the far end or the network (the line's SIP status), the media
// timeout (nothing heard from the far end for too long), the booth itself
// (the credit guard's cut, the shop's session limit) or the program closing.
//
//  1. The guards and the balance watch stop: no warning or tone after the end.
//  2. The journal closes the call with its SIP status, reason and quality; a
//     call the booth cut carries its cut reason as well.
//  3. The till's figures are shown again: "A cobrar", "Cobrar", the list
//     "Sin cobrar" and an open close window.
//  4. The booth is free; the status bar says how the call ended, under the
//     guards' notes (the cut, the far end's flags).
//  5. Before the next call the portal's balance and register are read
//     again; a call the line refused never reached the provider.
//
// The window implements the view and only shows what it is told.
//
// Threading: user-interface thread only.
#pragma once

#include <functional>
#include <optional>

#include <QObject>
#include <QString>

#include "app/till/call_journal.h"

class TBalanceWatch;
class TBoothCallFlow;
class TCallGuards;
class TCallRecorder;
class TGuardNotes;
struct TCallEnd;

// The call's end reason in the journal when the credit guard cut it.
inline constexpr char kCreditCutReason[] = "saldo agotado";
// ... and when the program closed with the call still up.
inline constexpr char kProgramClosedReason[] = "Programa cerrado";

class IBoothCallEndView {
public:
    virtual ~IBoothCallEndView() = default;
    // "A cobrar", "Cobrar", the list "Sin cobrar" and an open close window,
    // as the journal now has them.
    virtual void ShowTill() = 0;
    // The booth's state and the settings that wait for the booth to be free.
    virtual void ShowBoothFree() = 0;
    // The status bar's note; empty gives back the standing line. An alarm is
    // shown in red.
    virtual void ShowStatusNote(const QString& text, bool alarm) = 0;
    // The controls for the next call, after the portal's balance and
    // register when `refresh` is set, else at once.
    virtual void PrepareNextCall(bool refresh) = 0;
};

// What the media side knows of the call that has just ended.
struct TEndedCallFacts {
    std::optional<TCallQuality> Quality;  // none for a call that carried no audio
    bool MediaTimedOut = false;           // the booth hung up for lack of audio
};
using TEndedCallProbe = std::function<TEndedCallFacts()>;

class TBoothCallEnd : public QObject {
    Q_OBJECT

public:
    TBoothCallEnd(TBoothCallFlow& flow, TCallRecorder& recorder, TCallGuards& guards, TGuardNotes& notes,
                  TBalanceWatch* balanceWatch, TEndedCallProbe probe, IBoothCallEndView& view,
                  QObject* parent = nullptr);

    // The booth ends the call itself: `reason` goes to the journal as the
    // call's cut reason and `note` stays on the status bar until the next
    // call ("saldo agotado" / "Saldo agotado: llamada cortada"; the shop's
    // session limit likewise). The line's end follows as for any call.
    // Throws what the line throws on hanging up.
    void Cut(const QString& reason, const QString& note);
    // The program closes: the journal keeps the call as it stood (its end
    // may never arrive), then the line is asked to hang up.
    void ProgramClosing();

private:
    void Ended(const TCallEnd& end);

    TBoothCallFlow& Flow_;
    TCallRecorder& Recorder_;
    TCallGuards& Guards_;
    TGuardNotes& Notes_;
    TBalanceWatch* BalanceWatch_;
    TEndedCallProbe Probe_;
    IBoothCallEndView& View_;
};
