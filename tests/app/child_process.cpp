#include "tests/app/child_process.h"

#include <csignal>

#include <sys/prctl.h>
#include <unistd.h>

#include <QProcess>

void DieWithTest(QProcess& process) {
    const pid_t starter = ::getpid();
    process.setChildProcessModifier([starter] {
        // Between fork and exec: only async-signal-safe calls. A starter that
        // died before the request was made would never send the signal.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != starter) ::_exit(127);
    });
}
