#include "app/portal/portal.h"

#include <exception>

#include <QPointer>
#include <QTimer>

#include "app/portal/portal_query.h"

TPortal::TPortal(const QString& portalBaseUrl, QObject* parent, std::chrono::milliseconds timeout)
    : QObject(parent),
      BaseUrl_(portalBaseUrl),
      Validation_(new TPortalClient(timeout, this)),
      Register_(new TPortalClient(timeout, this)),
      Rate_(new TPortalClient(timeout, this)) {}

void TPortal::SetTimeout(std::chrono::milliseconds value) {
    for (TPortalClient* client : {Validation_, Register_, Rate_}) client->SetTimeout(value);
}

// The URL is built before the wait, so a base changed meanwhile only affects
// later requests.
QString TPortal::Fetch(TPortalClient& client, const QString& query) {
    return client.Fetch(PortalScriptUrl(BaseUrl_, query));
}

TValidationReply TPortal::ValidateAtStart(const QString& account, const QString& password,
                                          const QString& versionText) {
    return ParseValidation(
        Fetch(*Validation_, StartValidationQuery(account, password, VersionDigits(versionText))));
}

TValidationReply TPortal::ValidateAfterEdit(const QString& account, const QString& password) {
    return ParseValidation(Fetch(*Validation_, EditValidationQuery(account, password)));
}

TRateReply TPortal::DestinationAndRate(const QString& account, const QString& password,
                                       const QString& dialString) {
    return ParseRate(Fetch(*Rate_, RateQuery(account, password, PortalNumber(dialString))));
}

TBalanceReply TPortal::BalanceAndRegister(const QString& account, const QString& password) {
    return ParseBalance(Fetch(*Register_, BalanceQuery(account, password)));
}

QUrl TPortal::CallDetailLink(const QString& account) const {
    return CallDetailUrl(BaseUrl_, account);
}

// A base address that is no URL fails like an unreachable portal, and from
// the event loop too, so callers see one behaviour.
template <class T>
void TPortal::Ask(TPortalClient& client, const QString& query, T (*parse)(const QString&), QObject* context,
                  TPortalHandler<T> done) {
    QUrl address;
    try {
        address = PortalScriptUrl(BaseUrl_, query);
    } catch (const std::exception&) {
        QTimer::singleShot(0, context, [done = std::move(done)] { done(std::nullopt); });
        return;
    }
    client.Get(address, context, [parse, done = std::move(done)](const std::optional<QString>& body) {
        std::optional<T> reply;
        try {
            if (body) reply = parse(*body);
        } catch (const std::exception&) {
            // A value too large to read is a reply the booth cannot use.
        }
        done(reply);
    });
}

void TPortal::ValidateAtStart(const QString& account, const QString& password, const QString& versionText,
                              QObject* context, TPortalHandler<TValidationReply> done) {
    Ask(*Validation_, StartValidationQuery(account, password, VersionDigits(versionText)), &ParseValidation,
        context, std::move(done));
}

void TPortal::ValidateAfterEdit(const QString& account, const QString& password, QObject* context,
                                TPortalHandler<TValidationReply> done) {
    Ask(*Validation_, EditValidationQuery(account, password), &ParseValidation, context, std::move(done));
}

void TPortal::DestinationAndRate(const QString& account, const QString& password, const QString& dialString,
                                 QObject* context, TPortalHandler<TRateReply> done) {
    Ask(*Rate_, RateQuery(account, password, PortalNumber(dialString)), &ParseRate, context, std::move(done));
}

void TPortal::BalanceAndRegister(const QString& account, const QString& password, QObject* context,
                                 TPortalHandler<TBalanceReply> done) {
    Ask(*Register_, BalanceQuery(account, password), &ParseBalance, context, std::move(done));
}
