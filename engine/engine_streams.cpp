// What the engine does when one of its TCP or TLS connections ends.
#include "engine/engine.h"

void TSipEngine::OnStreamClosed(const std::string& address, uint16_t port, const std::string& reason,
                                bool established) {
    std::vector<ISipAccountPtr> failed;
    std::vector<ISipAccountPtr> again;
    {
        std::lock_guard<std::recursive_mutex> dispatch(DispatchLock_);
        if (!Active_ || SwitchingOff_) return;
        std::lock_guard<TSipAccounts> list(Accounts_);
        for (int i = 0; i < Accounts_.Count(); ++i) {
            const ISipAccountPtr account = Accounts_.AccountAt(i);
            if (!IsStreamTransport(account->GetTransport()) || account->GetServerAddress() != address ||
                account->GetServerPort() != port)
                continue;
            std::lock_guard<ISipAccount> guard(*account);
            const uint8_t state = account->GetState();
            const bool registering = state == asRegistering || state == asAuthenticating;
            if (registering) {
                // Nothing will answer this REGISTER: the reason (a refused
                // connection, a certificate for another name) is known now,
                // not after Timer F. A server that takes the connection and
                // drops it again is tried after the back-off, not in a loop.
                bool report = false;
                OnRegistrationFailed(*account, reason, report);
                if (report) failed.push_back(account);
            } else if (established && state == asRegistered) {
                // The server forgets a binding whose connection is gone and
                // could not reach us anyway: a new connection, registered
                // again at once.
                again.push_back(account);
            }
        }
    }
    FallBackToUdp(address, port, established);
    for (const ISipAccountPtr& account : failed) RaiseRegistrationBye(account);
    for (const ISipAccountPtr& account : again) SendRegister(account);
}
