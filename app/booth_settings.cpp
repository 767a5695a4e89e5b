#include "app/booth_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

void TBoothSettings::Save() {
    CreateNarrowed(FileName());
    Settings_->sync();
    QFile::setPermissions(FileName(), kOwnerOnly);
}
