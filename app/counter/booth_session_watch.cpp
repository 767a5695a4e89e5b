#include "app/counter/booth_session_watch.h"

#include <atomic>
#include <exception>

#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QVariant>

#include "app/booth/booth_settings.h"
#include "app/counter/shop_listener.h"
#include "app/shop/shop_address.h"

namespace {

constexpr char kIdKey[] = "Shop/sessionid";
constexpr char kOpenedKey[] = "Shop/sessionopened";
constexpr char kLimitKey[] = "Shop/sessionlimit";

QString NewConnectionName() {
    static std::atomic<int> next{0};
    return QStringLiteral("booth-session-%1").arg(next++);
}

std::unique_ptr<QSettings> OpenSettings(const QString& fileName) {
    if (!fileName.isEmpty()) return std::make_unique<QSettings>(fileName, QSettings::IniFormat);
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QString::fromUtf8(kSettingsOrganization));
}

}  // namespace

TBoothSessionWatch::TBoothSessionWatch(QString url, QString booth, const QString& settingsFile, QObject* parent)
    : QObject(parent), Url_(std::move(url)), Booth_(std::move(booth)), Settings_(OpenSettings(settingsFile)),
      ConnectionName_(NewConnectionName()), Timer_(new QTimer(this)) {
    Session_.Id = Settings_->value(QString::fromLatin1(kIdKey), 0).toLongLong();
    Session_.Opened = Settings_->value(QString::fromLatin1(kOpenedKey)).toDateTime();
    const QVariant limit = Settings_->value(QString::fromLatin1(kLimitKey));
    if (limit.isValid() && !limit.toString().isEmpty()) Session_.Limit = TMoney{limit.toLongLong()};
    connect(Timer_, &QTimer::timeout, this, &TBoothSessionWatch::Read);
}

TBoothSessionWatch::~TBoothSessionWatch() { Disconnect(); }

void TBoothSessionWatch::Start(std::chrono::milliseconds period) {
    Timer_->start(period);
    Read();
}

bool TBoothSessionWatch::EnsureConnected() {
    if (Db_.isOpen()) return true;
    try {
        Db_ = OpenShopConnection(ParseShopAddress(Url_), ConnectionName_);
        Listener_ = new TShopListener(Db_, this);
        connect(Listener_, &TShopListener::Changed, this, [this](const QString& booth) {
            if (booth == Booth_) Read();
        });
        return true;
    } catch (const std::exception&) {
        Disconnect();
        return false;
    }
}

void TBoothSessionWatch::Disconnect() {
    delete Listener_;
    Listener_ = nullptr;
    if (!Db_.isValid()) return;
    Db_.close();
    Db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(ConnectionName_);
}

void TBoothSessionWatch::Read() {
    if (!EnsureConnected()) return;
    QSqlQuery query(Db_);
    query.prepare(QStringLiteral("SELECT id, opened_at, limit_amount FROM shop.sessions"
                                 " WHERE booth = ? AND closed_at IS NULL"));
    query.addBindValue(Booth_);
    if (!query.exec()) {
        // The server went away: the next read connects again.
        Disconnect();
        return;
    }
    TBoothSession session;
    if (query.next()) {
        session.Id = query.value(0).toLongLong();
        session.Opened = query.value(1).toDateTime();
        if (!query.value(2).isNull()) session.Limit = TMoney{query.value(2).toLongLong()};
    }
    if (session == Session_) return;
    Session_ = session;
    Store();
    emit SessionChanged(Session_);
}

void TBoothSessionWatch::Store() {
    Settings_->setValue(QString::fromLatin1(kIdKey), static_cast<qlonglong>(Session_.Id));
    Settings_->setValue(QString::fromLatin1(kOpenedKey), Session_.Opened);
    Settings_->setValue(QString::fromLatin1(kLimitKey),
                        Session_.Limit ? QVariant(static_cast<qlonglong>(Session_.Limit->TenThousandths)) : QVariant(QString()));
    Settings_->sync();
}
