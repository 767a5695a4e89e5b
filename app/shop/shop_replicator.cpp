#include "app/shop/shop_replicator.h"

#include <QEventLoop>

#include "app/shop/shop_replication_worker.h"

TShopReplicator::TShopReplicator(TShopReplicatorConfig config, QObject* parent)
    : QObject(parent), Config_(std::move(config)) {
    Thread_.reset(QThread::create([this] { Run(); }));
    Thread_->setObjectName(QStringLiteral("shop-replicator"));
    Thread_->start();
    ExitStop_ = std::make_unique<TExitStop>([this] { Stop(); });
}

TShopReplicator::~TShopReplicator() {
    ExitStop_.reset();
    Stop();
}

// The worker looks at Stopping_ on every poll and ends its loop itself, so
// a stop asked before the loop ran is not lost.
void TShopReplicator::Stop() {
    Stopping_.store(true);
    Thread_->wait();
}

void TShopReplicator::Run() {
    QEventLoop loop;
    TShopReplicationWorker::THooks hooks;
    hooks.ConnectionChanged = [this](bool connected, const QString& error) {
        Connected_.store(connected);
        emit ConnectionChanged(connected, error);
    };
    hooks.Applied = [this](int count) { emit RemoteChangesApplied(count); };
    hooks.Ringing = &Ringing_;
    hooks.LiveChanged = &LiveChanged_;
    hooks.Stopping = &Stopping_;
    hooks.Stop = [&loop] { loop.quit(); };
    TShopReplicationWorker worker(Config_, std::move(hooks));
    loop.exec();
}
