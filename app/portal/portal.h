// The booth's conversation with the billing portal: three client objects,
// each kind of request always on the same one, so requests running at the
// same time never share a connection.
//
// Each request comes in two forms: one that answers later through a
// callback (what the booth uses, so no handler ever runs inside another) and
// one that waits in a local event loop and throws TPortalError.
//
// Threading: user-interface thread only.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include <QObject>
#include <QString>
#include <QUrl>

#include "app/portal/portal_client.h"
#include "app/portal/portal_reply.h"

// Receives a parsed reply, or nothing when the request failed (transport,
// HTTP status, time-out, an address that is no URL).
template <class T>
using TPortalHandler = std::function<void(const std::optional<T>& reply)>;

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

    // The same requests answered later: `done` runs once from the event loop
    // unless `context` (or the portal) is destroyed first.
    void ValidateAtStart(const QString& account, const QString& password, const QString& versionText,
                         QObject* context, TPortalHandler<TValidationReply> done);
    void ValidateAfterEdit(const QString& account, const QString& password, QObject* context,
                           TPortalHandler<TValidationReply> done);
    void DestinationAndRate(const QString& account, const QString& password, const QString& dialString,
                            QObject* context, TPortalHandler<TRateReply> done);
    void BalanceAndRegister(const QString& account, const QString& password, QObject* context,
                            TPortalHandler<TBalanceReply> done);

    // The account's call-detail page for the browser.
    QUrl CallDetailLink(const QString& account) const;

private:
    QString Fetch(TPortalClient& client, const QString& query);
    template <class T>
    void Ask(TPortalClient& client, const QString& query, T (*parse)(const QString&), QObject* context,
             TPortalHandler<T> done);

    QString BaseUrl_;
    TPortalClient* Validation_;  // the three children of this
    TPortalClient* Register_;
    TPortalClient* Rate_;
};
