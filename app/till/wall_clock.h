// The till's clock: the date and time a call or a payment is written with,
// injected so tests can set the day.
#pragma once

#include <functional>

#include <QDateTime>

using TClock = std::function<QDateTime()>;
