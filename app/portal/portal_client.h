// One HTTP client object of the booth: plain GET requests to the billing
// portal, either answered later through a callback (Get, what the booth
// uses) or waited on in a local event loop (Fetch).
//
// Threading: user-interface thread only. Other handlers (timers, SIP events,
// clicks) run inside Fetch; a nested Fetch on the same client works too.
// Get never runs a nested loop: its callback runs from the event loop.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkRequest;

// Any failure of a portal request: transport, HTTP status, time-out.
class TPortalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A portal that accepts the connection and never answers must not hold the
// booth for good.
inline constexpr std::chrono::milliseconds kDefaultPortalTimeout{15000};

inline constexpr char kPortalAccept[] = "text/html, */*";
inline constexpr char kPortalUserAgent[] = "3c1e7a90b24d5f68e0a9c7b1d2f4e608";

// The reply body as text: the charset of the Content-Type when it names
// Latin-1 or its Windows cousin, otherwise UTF-8, and Latin-1 again when the
// bytes are no valid UTF-8 (an old portal page never breaks the reading).
QString DecodeReplyBody(const QByteArray& body, const QByteArray& contentType);

class TPortalClient : public QObject {
    Q_OBJECT

public:
    explicit TPortalClient(std::chrono::milliseconds timeout = kDefaultPortalTimeout,
                           QObject* parent = nullptr);

    // One GET of the address; returns the whole body once the portal has
    // answered with a 2xx status, then closes the connection so the next
    // request opens a new one. Throws TPortalError on a transport error, an
    // HTTP error status, the time-out, or when the client is destroyed while
    // it waits.
    QString Fetch(const QUrl& address);

    // The body of a 2xx answer, or nothing on a transport error, an HTTP
    // error status or the time-out.
    using TReplyHandler = std::function<void(const std::optional<QString>& body)>;
    // Starts one GET of the address and returns at once; `done` runs exactly
    // once from the event loop, unless `context` or this client is destroyed
    // first.
    void Get(const QUrl& address, QObject* context, TReplyHandler done);

    std::chrono::milliseconds GetTimeout() const { return Timeout_; }
    void SetTimeout(std::chrono::milliseconds value) { Timeout_ = value; }

private:
    void CloseIdleConnections();
    QNetworkRequest Request(const QUrl& address) const;

    QNetworkAccessManager* Manager_;  // child of this
    std::chrono::milliseconds Timeout_;
};
