#include "sip/via_destination_memo.h"

void TViaDestinationMemo::Remember(const TStampedVia& stamped) {
    std::lock_guard<std::mutex> guard(Lock_);
    // assign keeps the buffer of the last one: no allocation per request.
    Headers_.assign(stamped.headers);
    Destination_.host.assign(stamped.destination.host);
    Destination_.port = stamped.destination.port;
    Known_ = true;
}

TResponseDestination TViaDestinationMemo::DestinationOf(std::string_view viaHeaders) const {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        if (Known_ && viaHeaders == Headers_) return Destination_;
    }
    return ResponseDestination(viaHeaders);
}
