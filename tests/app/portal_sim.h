// The billing portal simulator as a child process of a test: started on a
// free loopback port, stopped when the object goes, never outliving the test
// (it watches its standard input).
#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// One line of the simulator's request log.
struct TLoggedRequest {
    int Connection = 0;
    QString Method;
    QString Target;
    QString Accept;
    QString UserAgent;
    QString Cookie;
};

class TPortalSim {
public:
    // Configuration lines as the simulator reads them, and extra options
    // ("--hang", "--no-tags", "--status", "500", ...). Throws
    // std::runtime_error when the simulator does not come up in time.
    // `port` 0 takes a free one.
    explicit TPortalSim(const QStringList& configLines = {}, const QStringList& options = {}, quint16 port = 0);
    ~TPortalSim();
    TPortalSim(const TPortalSim&) = delete;
    TPortalSim& operator=(const TPortalSim&) = delete;

    quint16 Port() const { return Port_; }
    QString BaseUrl() const;
    QList<TLoggedRequest> Requests() const;
    // The request targets alone, in the order received.
    QStringList Targets() const;
    // Stops the simulator now; later requests find the port closed.
    void Stop();

private:
    QTemporaryDir Dir_;
    QProcess Process_;
    quint16 Port_ = 0;
};

// A loopback TCP port that was free a moment ago, for a simulator started
// after the booth that is to find it.
quint16 FreeTcpPort();

// A configuration field with everything but letters and digits escaped, so
// any text (blanks, bars, line ends) reaches the simulator unchanged.
QString SimField(const QString& text);
