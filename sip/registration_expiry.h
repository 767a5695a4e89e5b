// How long a registrar keeps the agent's binding, read from its 200 to
// REGISTER, and when to renew it.
#pragma once

#include <string>
#include <string_view>

// The expiry granted to `contactUri` (the account's Contact): the expires
// parameter of the Contact that names it, else that of a single Contact,
// else the Expires header, else `asked`.
int GrantedExpiry(std::string_view response, std::string_view contactUri, int asked);

// The Min-Expires of a "423 Interval Too Brief", -1 when it has none.
int MinExpires(std::string_view response);

// Seconds to the refresh of a binding granted for `granted` seconds: half of
// it, at least one second and never more than ten minutes.
int RefreshAfterSeconds(int granted);

// "503 Service Unavailable" from the status line of a response.
std::string StatusLineText(std::string_view response);
