#include "app/portal/portal_client.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStringDecoder>
#include <QTimer>

namespace {

bool NamesLatin1(const QByteArray& contentType) {
    const QByteArray lower = contentType.toLower();
    const qsizetype at = lower.indexOf("charset=");
    if (at < 0) return false;
    QByteArray charset = lower.mid(at + 8).trimmed();
    charset = charset.left(charset.indexOf(';')).trimmed();
    if (charset.startsWith('"')) charset = charset.mid(1).chopped(charset.endsWith('"') ? 2 : 1);
    return charset == "iso-8859-1" || charset == "latin1" || charset == "windows-1252" ||
           charset == "cp1252";
}

enum class TWaitEnd { Finished, TimedOut, Gone };

// Runs a local event loop until the reply finishes, the time-out passes or
// the reply is destroyed with its client.
TWaitEnd Wait(const QPointer<QNetworkReply>& reply, std::chrono::milliseconds timeout) {
    if (reply->isFinished()) return TWaitEnd::Finished;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);  // a coarse timer may end the wait early
    bool timedOut = false;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QObject::destroyed, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    timer.start(timeout);
    loop.exec();
    if (!reply) return TWaitEnd::Gone;
    return timedOut && !reply->isFinished() ? TWaitEnd::TimedOut : TWaitEnd::Finished;
}

// The body of a finished reply, or the failure as an exception.
QString ReadReply(QNetworkReply& reply) {
    // Checked before the transport error, whose text would carry the
    // address and so the password.
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        throw TPortalError("portal answered with HTTP status " + std::to_string(status.toInt()));
    }
    if (reply.error() != QNetworkReply::NoError) {
        throw TPortalError("portal request failed: " + reply.errorString().toStdString());
    }
    if (!status.isValid()) throw TPortalError("portal reply carried no HTTP status");
    return DecodeReplyBody(reply.readAll(), reply.rawHeader("Content-Type"));
}

}  // namespace

QString DecodeReplyBody(const QByteArray& body, const QByteArray& contentType) {
    if (NamesLatin1(contentType)) return QString::fromLatin1(body);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(body);
    return utf8.hasError() ? QString::fromLatin1(body) : text;
}

TPortalClient::TPortalClient(std::chrono::milliseconds timeout, QObject* parent)
    : QObject(parent), Manager_(new QNetworkAccessManager(this)), Timeout_(timeout) {
    Manager_->setProxy(QNetworkProxy::NoProxy);
    Manager_->setCookieJar(new QNetworkCookieJar(Manager_));
}

// Drops the client's idle connections unless one of its requests is still
// running (a request of the same client that this one is nested in, or the
// other way round): closing would cut it.
void TPortalClient::CloseIdleConnections() {
    for (const QNetworkReply* reply : Manager_->findChildren<QNetworkReply*>(Qt::FindDirectChildrenOnly)) {
        if (!reply->isFinished()) return;
    }
    Manager_->clearConnectionCache();
}

QNetworkRequest TPortalClient::Request(const QUrl& address) const {
    QNetworkRequest request(address);
    request.setRawHeader("Accept", kPortalAccept);
    request.setRawHeader("User-Agent", kPortalUserAgent);
    return request;
}

void TPortalClient::Get(const QUrl& address, QObject* context, TReplyHandler done) {
    CloseIdleConnections();
    QNetworkReply* reply = Manager_->get(Request(address));
    // The timer is the reply's child, so it goes with the reply.
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, reply, &QNetworkReply::abort);
    timer->start(Timeout_);
    const QPointer<QObject> receiver(context);
    connect(reply, &QNetworkReply::finished, this, [this, reply, receiver, done = std::move(done)] {
        reply->deleteLater();
        CloseIdleConnections();
        std::optional<QString> body;
        try {
            body = ReadReply(*reply);
        } catch (const TPortalError&) {
            // An aborted (timed-out) reply lands here as well.
        }
        if (receiver) done(body);
    });
}

QString TPortalClient::Fetch(const QUrl& address) {
    const QNetworkRequest request = Request(address);
    // A request of this client that finished while this one was nested in
    // it may have left its connection open.
    CloseIdleConnections();
    const QPointer<TPortalClient> self(this);
    const QPointer<QNetworkReply> reply = Manager_->get(request);
    const TWaitEnd end = Wait(reply, Timeout_);
    if (end == TWaitEnd::Gone || !self) {
        throw TPortalError("portal client closed while waiting for the portal");
    }
    if (end == TWaitEnd::TimedOut) reply->abort();
    reply->deleteLater();
    CloseIdleConnections();
    if (end == TWaitEnd::TimedOut) {
        throw TPortalError("portal did not answer within " + std::to_string(Timeout_.count()) + " ms");
    }
    return ReadReply(*reply);
}
