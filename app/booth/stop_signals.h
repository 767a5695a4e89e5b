// SIGTERM, SIGINT and SIGHUP (a shutdown, a logout, Ctrl+C, the terminal
// closing) as a Qt signal, so the booth can hang up and unregister before it
// exits instead of dying with the provider's leg still up.
//
// The handler only writes the signal's number to a pipe of its own; a
// QSocketNotifier reads it in the user-interface thread. One object at a
// time; the previous handlers come back with its destruction.
#pragma once

#include <array>
#include <csignal>

#include <QObject>

class QSocketNotifier;

class TStopSignals : public QObject {
    Q_OBJECT

public:
    explicit TStopSignals(QObject* parent = nullptr);
    ~TStopSignals() override;
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    static constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};

signals:
    void Received(int signalNumber);

private:
    void Read();

    std::array<int, 2> Pipe_{-1, -1};
    QSocketNotifier* Notifier_ = nullptr;  // child of this
    std::array<struct sigaction, kSignals.size()> Previous_{};
};
