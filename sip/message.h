// The parsed form of one received SIP datagram.
//
// The parse knows a fixed set of header and SDP line prefixes and cuts each
// value out by position and a few delimiters; it validates nothing and never
// fails on content, so a STUN packet or random bytes still give a message
// (with an empty CSeqMethod, by which the engine recognises non-SIP input).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sip/sdp.h"

class TSipMessage {
public:
    explicit TSipMessage(std::string datagram);

    int PayloadCount() const { return static_cast<int>(PayloadTypes.size()); }
    int PayloadAt(int index) const { return PayloadTypes.at(index); }
    int RecordRouteCount() const { return static_cast<int>(RecordRoutes.size()); }
    std::string RecordRouteAt(int index) const;
    // True once a Record-Route line was seen (the list may still hold only
    // empty entries).
    bool HasRecordRoutes() const { return HasRecordRoutes_; }

    // The address parts of the (last) From and To lines, cut when asked:
    // few readers want them, and cutting them on every datagram cost a heap
    // string each. Views into FromHeader and ToHeader.
    std::string_view FromUri() const;
    std::string_view FromHostPort() const;
    std::string_view FromHost() const;
    std::string_view ToUri() const;
    std::string_view ToHostPort() const;
    std::string_view ToHost() const;
    // The branch parameter of the first Via line, a view into ViaHeaders.
    std::string_view ViaBranch() const;
    // The body read as SDP, read on the first call: several steps of one
    // offer's handling want it, and a datagram without one never pays. A
    // message is handled by one thread, so the first reading is unguarded.
    const TSdpAudio& Sdp() const;

    std::vector<int> PayloadTypes;          // SDP audio payloads in offer order, telephone-event left out
    std::vector<std::string> RecordRoutes;  // one entry per comma-separated Record-Route value
    std::string DtmfSignal;
    std::string Body;
    std::string CallId;
    std::string RawText;
    std::string ViaHost;
    std::string RequestUri;
    std::string RequestMethod;  // of a request line only
    std::optional<std::string> ContentLength;  // the value as written, when the header is there
    std::string ContentType;
    std::string RequestUser;
    std::string ViaPort;
    std::string ViaRport;
    std::string Nonce;
    std::string StatusCode;
    std::string Realm;
    std::string Opaque;
    std::string Qop;
    bool Stale = false;  // the challenge only renews the nonce of right credentials
    std::string CSeqMethod;
    std::string FromHeader;
    std::string ToHeader;
    std::string ViaHeaders;
    std::string Contact;
    std::string CSeqNumber;
    std::string FromTag;
    std::string ToTag;
    std::string SdpAddress;
    std::string SdpAudioPort;
    std::string ContactHost;
    std::string ContactPort;
    std::string ToUser;
    std::string FromUser;
    std::string RecordRouteHeaders;

private:
    bool HasRecordRoutes_ = false;
    mutable std::optional<TSdpAudio> Sdp_;
};
