// The telephone line a booth call goes out on, as the call flow sees it:
// dial, hang up, and the line's word that a call was answered or ended.
// Calls are known by a number, so the flow needs no SIP objects and tests
// can stand in for the line.
#pragma once

#include <cstdint>

#include <QString>

// 0 is no call.
using TLineCallId = std::uint64_t;

class IBoothLine {
public:
    virtual ~IBoothLine() = default;

    // Places a call; throws std::exception when the line refuses it.
    virtual TLineCallId Dial(const QString& dialString) = 0;
    // Ends a call of this line (cancels it while it rings); throws
    // std::exception when the line fails to.
    virtual void HangUp(TLineCallId call) = 0;
};
