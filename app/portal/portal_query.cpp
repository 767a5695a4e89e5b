#include "app/portal/portal_query.h"

#include <stdexcept>

#include "app/portal/provider.h"

QString EncodeQueryValue(const QString& value) {
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

QString VersionDigits(const QString& versionText) {
    QString digits;
    for (const QChar c : versionText) {
        if (c >= u'0' && c <= u'9') digits.append(c);
    }
    return digits;
}

QString PortalNumber(const QString& dialString) {
    return dialString.startsWith(u"00") ? dialString.mid(2) : dialString;
}

namespace {

QString Credentials(const QString& account, const QString& password) {
    return QStringLiteral("?id=") + EncodeQueryValue(account) + QStringLiteral("&dv=") + EncodeQueryValue(password);
}

}  // namespace

QString StartValidationQuery(const QString& account, const QString& password,
                             const QString& versionDigits) {
    return Credentials(account, password) + QStringLiteral("&ac=va&ve=") + EncodeQueryValue(versionDigits);
}

QString EditValidationQuery(const QString& account, const QString& password) {
    return Credentials(account, password) + QStringLiteral("&ac=va");
}

QString RateQuery(const QString& account, const QString& password, const QString& portalNumber) {
    return Credentials(account, password) + QStringLiteral("&ac=de&vl=") + EncodeQueryValue(portalNumber);
}

QString BalanceQuery(const QString& account, const QString& password) {
    return Credentials(account, password) + QStringLiteral("&ac=cr");
}

// Built as encoded text and read back strictly, so QUrl neither re-encodes
// nor decodes what the query already holds.
QUrl JoinUrl(const QString& baseUrl, const char* path, const QString& query) {
    QString base = baseUrl;
    while (base.endsWith(u'/')) base.chop(1);
    const QString text = base + QString::fromLatin1(path) + query;
    const QUrl url = QUrl::fromEncoded(text.toUtf8(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        throw std::invalid_argument("not a valid address: " + text.toStdString());
    }
    return url;
}

QUrl PortalScriptUrl(const QString& portalBaseUrl, const QString& query) {
    return JoinUrl(portalBaseUrl, kPortalScriptPath, query);
}

QUrl CallDetailUrl(const QString& portalBaseUrl, const QString& account) {
    return JoinUrl(portalBaseUrl, kCallDetailPath, QStringLiteral("?usuario=") + EncodeQueryValue(account));
}

QUrl DownloadUrl(const QString& webBaseUrl) { return JoinUrl(webBaseUrl, kDownloadPath); }

QUrl WebRootUrl(const QString& webBaseUrl) { return JoinUrl(webBaseUrl, "/"); }
