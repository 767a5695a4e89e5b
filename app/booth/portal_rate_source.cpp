#include "app/booth/portal_rate_source.h"

#include "app/portal/portal.h"

void TPortalRateSource::AskRate(const QString& dialString, QObject* context,
                                std::function<void(const std::optional<TRateReply>&)> done) {
    const TAccountSettings account = Account_();
    Portal_.DestinationAndRate(account.Username, account.Password, dialString, context, std::move(done));
}
