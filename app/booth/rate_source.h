// Where a booth call gets its destination and rate from: the billing portal
// in the booth, a stand-in in tests.
#pragma once

#include <functional>
#include <optional>

#include <QObject>
#include <QString>

#include "app/portal/portal_reply.h"

class IRateSource {
public:
    virtual ~IRateSource() = default;

    // Asks for the destination and rate of a dial string and returns at
    // once. `done` runs later from the event loop, at most once, with the
    // reply or nothing on a failure, and never after `context` is destroyed.
    // A request may also never be answered at all.
    virtual void AskRate(const QString& dialString, QObject* context,
                         std::function<void(const std::optional<TRateReply>&)> done) = 0;
};
