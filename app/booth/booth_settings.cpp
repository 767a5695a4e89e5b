#include "app/booth/booth_settings.h"

#include <algorithm>

#include "app/booth/admin_pin.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// QSettings writes through a temporary file that takes over the permissions
// of the file it replaces; creating the file narrowed before the first write
// keeps the password from ever lying in a readable file.
void CreateNarrowed(const QString& fileName) {
    if (QFileInfo::exists(fileName)) return;
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QFile file(fileName);
    if (file.open(QIODevice::WriteOnly)) file.setPermissions(kOwnerOnly);
}


}  // namespace

TBoothSettings::TBoothSettings()
    : Settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QString::fromUtf8(kSettingsOrganization))) {}

TBoothSettings::~TBoothSettings() = default;

QString TBoothSettings::FileName() const { return Settings_->fileName(); }

TAccountSettings TBoothSettings::ReadAccount() const {
    Settings_->beginGroup(QStringLiteral("Account"));
    TAccountSettings account{Settings_->value(QStringLiteral("username")).toString(),
                             Settings_->value(QStringLiteral("password")).toString(),
                             Settings_->value(QStringLiteral("wavein")).toString(),
                             Settings_->value(QStringLiteral("waveout")).toString()};
    Settings_->endGroup();
    return account;
}

TProviderSettings TBoothSettings::ReadProvider() const {
    Settings_->beginGroup(QStringLiteral("Provider"));
    TProviderSettings provider{Settings_->value(QStringLiteral("sipserver")).toString(),
                               Settings_->value(QStringLiteral("portalurl")).toString(),
                               Settings_->value(QStringLiteral("weburl")).toString()};
    Settings_->endGroup();
    return provider;
}

void TBoothSettings::WriteCredentials(const QString& username, const QString& password) {
    Settings_->beginGroup(QStringLiteral("Account"));
    Settings_->setValue(QStringLiteral("username"), username);
    Settings_->setValue(QStringLiteral("password"), password);
    Settings_->endGroup();
    Save();
}

void TBoothSettings::WriteAccount(const TAccountSettings& account) {
    Settings_->beginGroup(QStringLiteral("Account"));
    Settings_->setValue(QStringLiteral("username"), account.Username);
    Settings_->setValue(QStringLiteral("password"), account.Password);
    Settings_->setValue(QStringLiteral("wavein"), account.WaveIn);
    Settings_->setValue(QStringLiteral("waveout"), account.WaveOut);
    Settings_->endGroup();
    Save();
}

QString TBoothSettings::ReadTransport() const {
    return Settings_->value(QStringLiteral("Account/transport")).toString();
}

void TBoothSettings::WriteTransport(const QString& transport) {
    Settings_->setValue(QStringLiteral("Account/transport"), transport);
    Save();
}

QString TBoothSettings::ReadTlsCaFile() const {
    return Settings_->value(QStringLiteral("Account/tlscafile")).toString();
}

void TBoothSettings::WriteTlsCaFile(const QString& path) {
    Settings_->setValue(QStringLiteral("Account/tlscafile"), path);
    Save();
}

QString TBoothSettings::ReadTlsCertificate() const {
    return Settings_->value(QStringLiteral("Account/tlscert")).toString();
}

QString TBoothSettings::ReadTlsKey() const {
    return Settings_->value(QStringLiteral("Account/tlskey")).toString();
}

void TBoothSettings::WriteTlsCertificate(const QString& certificateFile, const QString& keyFile) {
    Settings_->setValue(QStringLiteral("Account/tlscert"), certificateFile);
    Settings_->setValue(QStringLiteral("Account/tlskey"), keyFile);
    Save();
}

int TBoothSettings::ReadMediaTimeout() const {
    bool ok = false;
    const int seconds = Settings_->value(QStringLiteral("Media/timeoutseconds")).toInt(&ok);
    constexpr int kDefaultSeconds = 30;
    return ok && seconds >= 0 ? seconds : kDefaultSeconds;
}

QString TBoothSettings::ReadCodecs() const {
    return Settings_->value(QStringLiteral("Media/codecs")).toString();
}

void TBoothSettings::WriteCodecs(const QString& codecs) {
    Settings_->setValue(QStringLiteral("Media/codecs"), codecs);
    Save();
}

TShopSettings TBoothSettings::ReadShop() const {
    Settings_->beginGroup(QStringLiteral("Shop"));
    // A comma in a value written by hand without quotes makes QSettings read
    // a list; an address has commas.
    auto text = [this](const char* key) {
        const QVariant value = Settings_->value(QString::fromLatin1(key));
        return value.typeId() == QMetaType::QStringList ? value.toStringList().join(QStringLiteral(", "))
                                                        : value.toString();
    };
    TShopSettings shop{text("name"), text("address"), text("booth"),
                       TMoney{std::max<qint64>(Settings_->value(QStringLiteral("fallbackRate")).toLongLong(), 0)}};
    Settings_->endGroup();
    return shop;
}

void TBoothSettings::WriteShop(const TShopSettings& shop) {
    Settings_->beginGroup(QStringLiteral("Shop"));
    Settings_->setValue(QStringLiteral("name"), shop.Name);
    Settings_->setValue(QStringLiteral("address"), shop.Address);
    Settings_->setValue(QStringLiteral("booth"), shop.Booth);
    Settings_->setValue(QStringLiteral("fallbackRate"), qint64(shop.FallbackRate.TenThousandths));
    Settings_->endGroup();
    Save();
}

QString TBoothSettings::ReadShopDatabase() const {
    return Settings_->value(QStringLiteral("Shop/database")).toString().trimmed();
}

void TBoothSettings::WriteShopDatabase(const QString& url) {
    Settings_->setValue(QStringLiteral("Shop/database"), url);
    Save();
}

// One PIN for the whole booth: the till's windows and the guarded actions
// read and write the same record, in the administrator's format.
bool TBoothSettings::HasAdminPin() const { return TAdminPin(FileName()).IsSet(); }

bool TBoothSettings::AdminPinMatches(const QString& pin) const { return TAdminPin(FileName()).Matches(pin); }

void TBoothSettings::WriteAdminPin(const QString& pin) {
    Settings_->sync();
    TAdminPin(FileName()).Set(pin);
    Settings_->sync();
}

void TBoothSettings::Save() {
    CreateNarrowed(FileName());
    Settings_->sync();
    QFile::setPermissions(FileName(), kOwnerOnly);
}
