// The billing portal as the rate source of the booth's calls, asked with
// the window's account as it stands when each request goes out.
#pragma once

#include <functional>

#include "app/booth/booth_settings.h"
#include "app/booth/rate_source.h"

class TPortal;

class TPortalRateSource : public IRateSource {
public:
    TPortalRateSource(TPortal& portal, std::function<TAccountSettings()> account)
        : Portal_(portal), Account_(std::move(account)) {}

    void AskRate(const QString& dialString, QObject* context,
                 std::function<void(const std::optional<TRateReply>&)> done) override;

private:
    TPortal& Portal_;
    std::function<TAccountSettings()> Account_;
};
