// The test helpers' programs (Kamailio, SIPp, the portal simulator, a booth
// of its own) die with the test program: a test killed by its timeout would
// otherwise leave them holding 5060, 5075 or a portal port for the next run.
#pragma once

class QProcess;

// Asks the kernel to send the child SIGTERM when the thread that started it
// goes away; call before `process.start`.
void DieWithTest(QProcess& process);
