// A SIP final status of a call that did not connect, in the booth's words:
// the status bar and the day's close say the same thing for it.
#pragma once

// Never null; statuses without words of their own read as the provider's
// refusal.
const char* SipStatusText(int status);
