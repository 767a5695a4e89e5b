// TBalanceWatch: reads the account's balance from the portal every so often
// while a call runs, so the credit guard works from what the account holds
// now: another booth on the same account may have spent from it, or the
// shop may have topped it up. The portal charges a call when it ends (its
// register lists ended calls), so the balance read during a call does not
// yet hold that call's own cost.
//
// One request at a time: a portal slower than the period is not asked
// again until it answers or times out. Stop drops the reply on its way, so
// a balance read during a call never lands after the refresh that follows
// the call.
//
// Threading: user-interface thread only.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <QObject>

#include "app/portal/portal.h"

class QTimer;

class TBalanceWatch : public QObject {
    Q_OBJECT

public:
    // Starts one portal request; `done` must not run once `context` is gone.
    using TFetch = std::function<void(QObject* context, TPortalHandler<TBalanceReply> done)>;

    // A zero period never asks.
    TBalanceWatch(TFetch fetch, std::chrono::milliseconds period, QObject* parent = nullptr);
    ~TBalanceWatch() override;

    // The first request goes one period after Start.
    void Start();
    void Stop();
    bool IsRunning() const;

signals:
    void BalanceRead(TMoney balance);

private:
    void Ask();

    TFetch Fetch_;
    QTimer* Timer_;  // child of this
    // The request in flight, as the context its reply needs: destroying it
    // drops the reply.
    std::unique_ptr<QObject> Pending_;
};
