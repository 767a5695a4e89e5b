// The requests the booth sends to the billing portal and the links it hands
// to the browser, as plain text built from the typed values.
//
// Every value is percent-encoded (all but letters, digits and "-._~", as
// UTF-8), so the portal decodes exactly what was typed: a password holding
// "&", "#", "+", "%" or a blank neither cuts the query nor changes on the way.
// Account numbers and dial strings are digits and travel unchanged.
#pragma once

#include <QString>
#include <QUrl>

// The value as it stands in a query.
QString EncodeQueryValue(const QString& value);

// The version text without everything that is not a decimal digit:
// "1.164" gives "1164".
QString VersionDigits(const QString& versionText);

// The number the portal prices: the dial string less one leading "00".
QString PortalNumber(const QString& dialString);

// Query strings, each starting with "?id=".
QString StartValidationQuery(const QString& account, const QString& password,
                             const QString& versionDigits);
QString EditValidationQuery(const QString& account, const QString& password);
QString RateQuery(const QString& account, const QString& password, const QString& portalNumber);
QString BalanceQuery(const QString& account, const QString& password);

// "http://host[:port]" (a trailing "/" is ignored) joined with a path and an
// encoded query; throws std::invalid_argument when the result is no valid URL.
QUrl JoinUrl(const QString& baseUrl, const char* path, const QString& query = QString());

// The portal script's address for a query string.
QUrl PortalScriptUrl(const QString& portalBaseUrl, const QString& query);

// The call-detail page of the account, opened in the browser; the portal
// asks for the password on its page.
QUrl CallDetailUrl(const QString& portalBaseUrl, const QString& account);

// The download page of a newer program, opened in the browser.
QUrl DownloadUrl(const QString& webBaseUrl);

// The web site's root page, opened from the logo.
QUrl WebRootUrl(const QString& webBaseUrl);
