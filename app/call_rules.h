// Rules about the booth's calls that the window applies, as plain functions.
#pragma once

#include "sip/sipints.h"

// Whether closing the window (or "&Colgar") hangs a call up: every call
// except an incoming one still ringing, which the booth never answers and
// leaves to the caller.
bool IsCallToHangUp(bool incoming, TCallState state);
