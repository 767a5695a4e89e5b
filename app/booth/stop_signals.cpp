#include "app/booth/stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include <QSocketNotifier>

namespace {

// Written by the handler, which may touch nothing but a lock-free value.
volatile std::sig_atomic_t WriteEnd = -1;

void OnSignal(int signalNumber) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a request: losing this one changes nothing.
    [[maybe_unused]] const ssize_t written = ::write(WriteEnd, &byte, 1);
    errno = saved;
}

}  // namespace

TStopSignals::TStopSignals(QObject* parent) : QObject(parent) {
    if (WriteEnd != -1) throw std::logic_error("stop signals are already taken");
    if (::pipe2(Pipe_.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    WriteEnd = Pipe_[1];
    Notifier_ = new QSocketNotifier(Pipe_[0], QSocketNotifier::Read, this);
    connect(Notifier_, &QSocketNotifier::activated, this, &TStopSignals::Read);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &action, &Previous_[i]);
}

TStopSignals::~TStopSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &Previous_[i], nullptr);
    WriteEnd = -1;
    delete Notifier_;
    ::close(Pipe_[0]);
    ::close(Pipe_[1]);
}

void TStopSignals::Read() {
    unsigned char byte = 0;
    while (::read(Pipe_[0], &byte, 1) == 1) emit Received(byte);
}
