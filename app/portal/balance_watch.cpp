#include "app/portal/balance_watch.h"

#include <QTimer>

TBalanceWatch::TBalanceWatch(TFetch fetch, std::chrono::milliseconds period, QObject* parent)
    : QObject(parent), Fetch_(std::move(fetch)), Timer_(new QTimer(this)) {
    Timer_->setObjectName(QStringLiteral("balanceTimer"));
    Timer_->setInterval(period);
    connect(Timer_, &QTimer::timeout, this, &TBalanceWatch::Ask);
}

TBalanceWatch::~TBalanceWatch() = default;

void TBalanceWatch::Start() {
    if (Timer_->interval() > 0) Timer_->start();
}

void TBalanceWatch::Stop() {
    Timer_->stop();
    Pending_.reset();
}

bool TBalanceWatch::IsRunning() const { return Timer_->isActive(); }

void TBalanceWatch::Ask() {
    if (Pending_) return;
    Pending_ = std::make_unique<QObject>();
    QObject* context = Pending_.get();
    Fetch_(context, [this, context](const std::optional<TBalanceReply>& reply) {
        // The context is still ours here (its reply would have been dropped
        // otherwise), but it must outlive the handler that runs inside it.
        if (Pending_.get() == context) Pending_.release()->deleteLater();
        if (reply && IsRunning()) emit BalanceRead(reply->Balance);
    });
}
