// The replicator's work on its own thread: the outbox sent on a short
// poll, the counter's changes taken on notification, the heartbeat, and the
// reconnection with a doubling delay. Made, run and destroyed on that thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include <QObject>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QTimer>

#include "app/shop/shop_replicator.h"

class TJournalDb;
class TShopSender;
class TShopPuller;

class TShopReplicationWorker : public QObject {
    Q_OBJECT

public:
    struct THooks {
        std::function<void(bool, const QString&)> ConnectionChanged;
        std::function<void(int)> Applied;
        const std::atomic<bool>* Ringing = nullptr;
        std::atomic<bool>* LiveChanged = nullptr;  // set when the live state moved outside the journal
        const std::atomic<bool>* Stopping = nullptr;
        std::function<void()> Stop;  // ends the thread's event loop
    };

    TShopReplicationWorker(const TShopReplicatorConfig& config, THooks hooks);
    ~TShopReplicationWorker() override;

private:
    void Connect();
    void Disconnect(const QString& error);
    void Poll();
    void PushAll();
    void Pull();
    void Beat();
    void OnNotification(const QString& name, QSqlDriver::NotificationSource source, const QVariant& payload);
    // Runs `work`; a failure drops the shop's connection and schedules the
    // next attempt.
    template <class TWork>
    void Guarded(TWork&& work);

    const TShopReplicatorConfig Config_;
    THooks Hooks_;
    std::unique_ptr<TJournalDb> Journal_;
    QString ShopConnection_;
    std::optional<QSqlDatabase> Shop_;
    std::unique_ptr<TShopSender> Sender_;
    std::unique_ptr<TShopPuller> Puller_;
    QTimer PollTimer_;
    QTimer HeartbeatTimer_;
    QTimer PullTimer_;
    QTimer ReconnectTimer_;
    int BackoffMs_ = 0;
};
