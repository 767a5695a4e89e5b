// Where the answers to the request being handled go, kept beside its
// stamped Via lines: the answer (and a call's later answers, which keep
// those lines) leaves without the top Via being read a second time. Any
// other Via text is read as ResponseDestination reads it.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "sip/via.h"

class TViaDestinationMemo {
public:
    void Remember(const TStampedVia& stamped);
    TResponseDestination DestinationOf(std::string_view viaHeaders) const;

private:
    // Answers are sent from the host's threads too (answering, hanging up).
    mutable std::mutex Lock_;
    std::string Headers_;
    TResponseDestination Destination_;
    bool Known_ = false;
};
