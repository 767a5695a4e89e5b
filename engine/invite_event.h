// What a received INVITE message means to the call it names: the events of a
// call's INVITE state machine, told apart once, before any step is taken.
#pragma once

#include <string_view>

#include "sip/sipints.h"

enum class TInviteEvent {
    kIgnore,             // nothing to do in the call's state
    kNewCall,            // an INVITE without a To tag, on no call: an incoming call
    kNoDialog,           // an INVITE with a To tag, on no call: 481
    kRepeatedInvite,     // another copy of the INVITE that made the call
    kReInvite,           // a new offer inside the dialog of a call that is up
    kRefusedReInvite,    // a re-INVITE of a call that cannot take one now
    kUnknownCallFailure, // a final failure for a call no longer listed
    kEndedCallResponse,  // any response for a call the agent cancelled or ended
    kTrying,             // 100 while the INVITE is unanswered
    kProgress,           // 180 or 183 while the call is set up
    kFirstOk,            // the 2xx that answers the call
    kOkAgain,            // a 2xx for a call that is up (its re-INVITE answered)
    kForkOk,             // a 2xx from another fork than the one the call keeps
    kChallenge,          // 401, 403 or 407
    kFailure,            // any other final failure
};

// What the classification reads; for a message on no call only `request`,
// `toTag` and `status` count.
struct TInviteFacts {
    bool callKnown = false;
    bool request = false;
    bool toTag = false;       // the message names a dialog
    std::string_view status;  // of a response
    TCallState state = csIdle;
    bool cancelled = false;    // the agent sent (or holds back) a CANCEL
    bool established = false;  // the call reached the connected state once
    bool incoming = false;
    bool otherTag = false;  // the response's To tag is set and is not the call's
};

TInviteEvent ClassifyInvite(const TInviteFacts& facts);

// A final failure of three characters: a first digit above 2 (a non-digit
// counts as one).
bool IsFinalFailure(std::string_view status);
// Calling, authenticating or ringing.
bool InSetUp(TCallState state);
