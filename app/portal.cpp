#include "app/portal.h"

#include "app/portal_query.h"

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

QUrl TPortal::CallDetailLink(const QString& account, const QString& password) const {
    return CallDetailUrl(BaseUrl_, account, password);
}
