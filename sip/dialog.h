// One SIP dialog (TDialog, RFC 3261 12): the identifiers that name it, both
// sides' CSeq, where its requests go (remote target and route set) and how
// far it got. The call owns it; composers and the engine's routing read it,
// and it changes only through the transitions below.
//
// Threading contract: every member takes the dialog's own leaf lock for the
// copy in or out, so a host may read it from any thread; the engine runs
// the transitions under the call's lock so that a step sees one dialog.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

class TSipMessage;

enum class TDialogState {
    kNone,        // our INVITE is out, nobody has answered with a tag yet
    kEarly,       // a tagged provisional answer, or an incoming INVITE not yet answered 2xx
    kConfirmed,   // a 2xx made it (RFC 3261 12.1)
    kTerminated,  // BYE, CANCEL, a final failure or a lost dialog ended it
};

const char* DialogStateName(TDialogState state);

class TDialog {
public:
    // The largest CSeq RFC 3261 8.1.1.5 allows.
    static constexpr uint32_t kMaxCSeq = 0x7FFFFFFF;

    TDialog(std::string callId, std::string localTag);
    TDialog(const TDialog&) = delete;
    TDialog& operator=(const TDialog&) = delete;

    // Transitions.

    // Our side calls: the URIs of our From and To, and the CSeq of the
    // INVITE. The dialog waits for the far end's tag.
    void StartOutgoing(const std::string& localUri, const std::string& remoteUri,
                       uint32_t firstCSeq);
    // A tagged answer to our INVITE: a 1xx makes the dialog early, a 2xx
    // confirms it; each takes the far end's tag, the Contact as its remote
    // target and the Record-Route entries, last first, as the route set.
    // Once confirmed, a provisional answer changes nothing and a 2xx only
    // refreshes the target (a copy, or the answer to a re-INVITE).
    void TakeAnswer(const TSipMessage& response);
    // A challenge or a final failure to our first INVITE: the early dialog
    // (if any) is gone and the next INVITE starts over with a new CSeq.
    void ForgetEarly();
    // The far end calls: the INVITE's From is the remote side, its To the
    // local one; the route set keeps the Record-Route order. Early until
    // Confirm.
    void StartIncoming(const TSipMessage& invite, uint32_t firstCSeq);
    // Our 2xx to the incoming INVITE.
    void Confirm();
    // A request inside the dialog taken in order: its CSeq becomes the
    // remote one and the Contact of a re-INVITE, the one target refresh
    // request we take, becomes the remote target (RFC 3261 12.2.2). The
    // route set stays as it is.
    void TakeRequest(const TSipMessage& request);
    // The number for our next request: one above the last, never past
    // kMaxCSeq (std::overflow_error instead, the dialog can go no further).
    uint32_t NextLocalCSeq();
    void Terminate();
    // Another fork's 2xx (RFC 3261 13.2.2.4): true the first time its tag
    // is seen, when its dialog is to be ended with BYE.
    bool NoteOtherFork(const std::string& remoteTag);

    // What the dialog holds.
    TDialogState State() const;
    bool Confirmed() const { return State() == TDialogState::kConfirmed; }
    // Confirmed now, or until it was terminated.
    bool Established() const;
    std::string CallId() const;
    std::string LocalTag() const;
    std::string RemoteTag() const;
    std::string LocalUri() const;
    std::string RemoteUri() const;
    // The Contact URI as the far end gave it, parameters included; the
    // remote URI while it gave none.
    std::string RemoteTarget() const;
    // The Contact as given, empty when none came.
    std::string RemoteContact() const;
    uint32_t LocalCSeq() const;
    // The CSeq of the far end's last request; nothing before its first.
    std::optional<uint32_t> RemoteCSeq() const;
    // The route set in the order requests carry it.
    std::vector<std::string> RouteSet() const;
    // The first route, where every request of the dialog goes; empty without one.
    std::string FirstRoute() const;
    // "Route: " lines in the route set's order.
    std::string RouteLines() const;
    // "Record-Route: " lines as the far end's INVITE listed them, for our
    // answers to it.
    std::string RecordRouteLines() const;
    // A dialog begun by a request for a sips: URI, or (incoming) one whose
    // first Record-Route or, without any, Contact is sips: (RFC 3261 12.1):
    // our Contact in it is sips: as well.
    bool Secure() const;
    // Whether `request` names this dialog: the Call-ID, its From tag the
    // remote tag and its To tag the local one.
    bool Names(const TSipMessage& request) const;

private:
    void TakeRouteSet(const TSipMessage& message, bool reverse);
    void TakeContact(const TSipMessage& message);

    mutable std::mutex Lock_;
    const std::string CallId_;
    const std::string LocalTag_;
    TDialogState State_ = TDialogState::kNone;
    bool Incoming_ = false;
    bool WasConfirmed_ = false;
    bool Secure_ = false;
    std::string RemoteTag_, LocalUri_, RemoteUri_, RemoteContact_;
    uint32_t LocalCSeq_ = 0;
    std::optional<uint32_t> RemoteCSeq_;
    std::vector<std::string> RouteSet_;
    std::set<std::string> OtherForks_;
};

// A CSeq number as RFC 3261 writes it: 1 to 10 digits, below 2^31.
std::optional<uint32_t> ParseCSeq(std::string_view text);
