// The booth's conversation with the billing portal: three client objects,
// each kind of request always on the same one, so a request started inside
// another (the wait keeps the event loop running) never shares its
// connection.
//
// Threading: user-interface thread only.
#pragma once

#include <chrono>

#include <QObject>
#include <QString>
#include <QUrl>

#include "app/portal_client.h"
#include "app/portal_reply.h"

class TPortal : public QObject {
    Q_OBJECT

public:
    // The base URL is "http://host[:port]" of the portal.
    explicit TPortal(const QString& portalBaseUrl, QObject* parent = nullptr,
                     std::chrono::milliseconds timeout = kDefaultPortalTimeout);

    QString GetBaseUrl() const { return BaseUrl_; }
    void SetBaseUrl(const QString& value) { BaseUrl_ = value; }
    void SetTimeout(std::chrono::milliseconds value);

    // Validation at program start, with the version text as shown ("1.164").
    TValidationReply ValidateAtStart(const QString& account, const QString& password,
                                     const QString& versionText);
    // Validation after the account was edited.
    TValidationReply ValidateAfterEdit(const QString& account, const QString& password);
    // Destination and rate of a dial string (a leading "00" is not sent).
    TRateReply DestinationAndRate(const QString& account, const QString& password,
                                  const QString& dialString);
    // Balance and the register of the last calls.
    TBalanceReply BalanceAndRegister(const QString& account, const QString& password);

    // The account's call-detail page for the browser.
    QUrl CallDetailLink(const QString& account, const QString& password) const;

private:
    QString Fetch(TPortalClient& client, const QString& query);

    QString BaseUrl_;
    TPortalClient* Validation_;  // the three children of this
    TPortalClient* Register_;
    TPortalClient* Rate_;
};
