#include "app/call_rules.h"

bool IsCallToHangUp(bool incoming, TCallState state) { return !(incoming && state == csRinging); }
