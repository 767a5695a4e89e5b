#include "app/shop/shop_replication_worker.h"

#include <algorithm>
#include <atomic>
#include <exception>

#include <QSqlQuery>
#include <QUrl>

#include "app/till/journal_db.h"
#include "app/shop/shop_address.h"
#include "app/shop/shop_live.h"
#include "app/shop/shop_outbox.h"
#include "app/shop/shop_puller.h"
#include "app/shop/shop_sender.h"

namespace {

QString NewShopConnectionName() {
    static std::atomic<int> next{0};
    return QStringLiteral("shop-replicator-%1").arg(next++);
}

// The shop a journal is linked to, without its password: a new password
// is the same shop.
QString LinkOf(const TShopReplicatorConfig& config) {
    const TShopAddress address = ParseShopAddress(config.ShopUrl);
    return QStringLiteral("%1@%2:%3/%4#%5")
        .arg(address.User, address.Host)
        .arg(address.Port)
        .arg(address.Database, config.Booth);
}

}  // namespace

TShopReplicationWorker::TShopReplicationWorker(const TShopReplicatorConfig& config, THooks hooks)
    : Config_(config), Hooks_(std::move(hooks)), ShopConnection_(NewShopConnectionName()) {
    connect(&PollTimer_, &QTimer::timeout, this, &TShopReplicationWorker::Poll);
    connect(&HeartbeatTimer_, &QTimer::timeout, this, &TShopReplicationWorker::Beat);
    connect(&PullTimer_, &QTimer::timeout, this, &TShopReplicationWorker::Pull);
    connect(&ReconnectTimer_, &QTimer::timeout, this, &TShopReplicationWorker::Connect);
    ReconnectTimer_.setSingleShot(true);
    PollTimer_.start(Config_.PollMs);
    HeartbeatTimer_.start(Config_.HeartbeatMs);
    PullTimer_.start(Config_.PullEveryMs);
    Connect();
}

TShopReplicationWorker::~TShopReplicationWorker() {
    Sender_.reset();
    Puller_.reset();
    if (Shop_) {
        Shop_->close();
        Shop_.reset();
        QSqlDatabase::removeDatabase(ShopConnection_);
    }
}

template <class TWork>
void TShopReplicationWorker::Guarded(TWork&& work) {
    try {
        work();
    } catch (const std::exception& error) {
        Disconnect(QString::fromUtf8(error.what()));
    }
}

void TShopReplicationWorker::Connect() {
    if (Shop_ || Hooks_.Stopping->load()) return;
    Guarded([this] {
        if (!Journal_) {
            // The replicator's own connection: it never waits on the booth's
            // writes for long, and its deletes need no sync (a delete lost to
            // a power cut only sends a row again).
            Journal_ = std::make_unique<TJournalDb>(Config_.JournalFile, TJournalAccess::Reader);
            RunSql(Journal_->Db(), QStringLiteral("PRAGMA synchronous = NORMAL"));
            LinkToShop(*Journal_, LinkOf(Config_));
        }
        Shop_ = OpenShopConnection(ParseShopAddress(Config_.ShopUrl), ShopConnection_);
        QSqlDriver* driver = Shop_->driver();
        connect(driver, &QSqlDriver::notification, this, &TShopReplicationWorker::OnNotification);
        driver->subscribeToNotification(QString::fromLatin1(kShopChannel));
        Sender_ = std::make_unique<TShopSender>(*Shop_, Config_.Booth);
        Puller_ = std::make_unique<TShopPuller>(*Shop_, *Journal_, Config_.Booth);
        // Sessions and payments first: the calls sent next carry their session.
        if (const int applied = Puller_->Pull(); applied > 0) Hooks_.Applied(applied);
        Sender_->Beat(ReadBoothLive(*Journal_, Hooks_.Ringing->load()));
        BackoffMs_ = 0;
        Hooks_.ConnectionChanged(true, QString());
        PushAll();
    });
}

void TShopReplicationWorker::Disconnect(const QString& error) {
    const bool was = Sender_ != nullptr;
    Sender_.reset();
    Puller_.reset();
    if (Shop_) {
        Shop_->close();
        Shop_.reset();
        QSqlDatabase::removeDatabase(ShopConnection_);
    }
    BackoffMs_ = BackoffMs_ == 0 ? Config_.MinBackoffMs : std::min(BackoffMs_ * 2, Config_.MaxBackoffMs);
    if (was || BackoffMs_ == Config_.MinBackoffMs) Hooks_.ConnectionChanged(false, error);
    if (!Hooks_.Stopping->load()) ReconnectTimer_.start(BackoffMs_);
}

void TShopReplicationWorker::Poll() {
    if (Hooks_.Stopping->load()) {
        Hooks_.Stop();
        return;
    }
    if (!Sender_) return;
    Guarded([this] {
        PushAll();
        if (Hooks_.LiveChanged->exchange(false)) Sender_->Beat(ReadBoothLive(*Journal_, Hooks_.Ringing->load()));
    });
}

// Batch after batch until the outbox is empty: a booth back from an outage
// catches up at once, oldest first.
void TShopReplicationWorker::PushAll() {
    while (Sender_ && !Hooks_.Stopping->load()) {
        const TOutboxBatch batch = ReadOutboxBatch(*Journal_, Config_.BatchSize);
        if (batch.LastSeq == 0) return;
        Sender_->Send(batch, ReadBoothLive(*Journal_, Hooks_.Ringing->load()));
        DeleteSent(*Journal_, batch.LastSeq);
    }
}

void TShopReplicationWorker::Pull() {
    if (!Puller_) return;
    Guarded([this] {
        if (const int applied = Puller_->Pull(); applied > 0) Hooks_.Applied(applied);
    });
}

void TShopReplicationWorker::Beat() {
    if (!Sender_) return;
    Guarded([this] { Sender_->Beat(ReadBoothLive(*Journal_, Hooks_.Ringing->load())); });
}

// Our own writes are announced too; only another session's change of this
// booth can bring something to take.
void TShopReplicationWorker::OnNotification(const QString& name, QSqlDriver::NotificationSource source,
                                            const QVariant& payload) {
    if (name != QLatin1String(kShopChannel) || source == QSqlDriver::SelfSource) return;
    if (payload.toString() == Config_.Booth) Pull();
}
