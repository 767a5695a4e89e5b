// SIPp as the far end of a booth call, on 127.0.0.1 and a free port, playing
// one scenario kept beside the tests once (-m 1) and ending by itself
// (-timeout 30); killed with the object if it is still running.
#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

class TSippPeer {
public:
    // `target` is empty for an answering peer, "host:port" for a caller.
    explicit TSippPeer(const QString& scenario, const QStringList& extra = {}, const QString& target = {});
    ~TSippPeer();
    TSippPeer(const TSippPeer&) = delete;
    TSippPeer& operator=(const TSippPeer&) = delete;

    static bool Installed();
    quint16 Port() const { return Port_; }
    // Waits for the scenario's end; true when SIPp ran it through without
    // an error. The output so far goes to the test log on failure.
    bool Finish(int timeoutMs = 20000);

private:
    QTemporaryDir Dir_;
    QProcess Process_;
    quint16 Port_ = 0;
};
