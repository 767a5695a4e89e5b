// The payload type numbers a call's keypad events travel under (RFC 4733).
// Each side names its own in its SDP and the other sends with that number,
// so a peer that offers 96 or 100 is sent 96 or 100; our own offers say 101.
#pragma once

#include <optional>

inline constexpr int kOwnTelephoneEventPayloadType = 101;

struct TTelephoneEventTypes {
    int send = kOwnTelephoneEventPayloadType;     // the number the peer's SDP gave
    int receive = kOwnTelephoneEventPayloadType;  // the number our SDP gave

    // Received events are recognised under either number: a peer that sends
    // with its own number instead of ours is still understood.
    bool Names(int payloadType) const { return payloadType == send || payloadType == receive; }
    bool operator==(const TTelephoneEventTypes&) const = default;
};

// An offer naming `offered` (nothing when it names no telephone-event) is
// answered with the same number, which both sides then use.
TTelephoneEventTypes EventTypesAnswering(std::optional<int> offered);

// Our offer (101) answered with `answered`: we send with the answer's number
// and receive with ours.
TTelephoneEventTypes EventTypesAnswered(std::optional<int> answered);
