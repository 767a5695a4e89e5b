#include "app/booth/admin_pin.h"

#include <stdexcept>

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>

#include "app/booth/booth_settings.h"

namespace {

// "sha256:<salt hex>:<digest hex>"
QString Digest(const QByteArray& salt, const QString& pin) {
    const QByteArray digest = QCryptographicHash::hash(salt + pin.toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("sha256:%1:%2").arg(QString::fromLatin1(salt.toHex()), QString::fromLatin1(digest.toHex()));
}

// Both texts are read to their end, so how long the check takes says nothing
// of where a guess went wrong.
bool SameText(const QString& a, const QString& b) {
    if (a.size() != b.size()) return false;
    int difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i) difference |= a[i].unicode() ^ b[i].unicode();
    return difference == 0;
}

}  // namespace

TAdminPin::TAdminPin()
    : Settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QString::fromUtf8(kSettingsOrganization))) {}

TAdminPin::TAdminPin(const QString& fileName)
    : Settings_(std::make_unique<QSettings>(fileName, QSettings::IniFormat)) {}

TAdminPin::~TAdminPin() = default;

bool TAdminPin::IsSet() const { return !Settings_->value(QString::fromUtf8(kAdminPinKey)).toString().isEmpty(); }

bool TAdminPin::Matches(const QString& pin) const {
    const QString stored = Settings_->value(QString::fromUtf8(kAdminPinKey)).toString();
    const QStringList parts = stored.split(u':');
    if (parts.size() != 3 || parts[0] != u"sha256") return false;
    return SameText(Digest(QByteArray::fromHex(parts[1].toLatin1()), pin), stored);
}

bool IsValidAdminPin(const QString& pin) {
    static const QRegularExpression kDigits(QStringLiteral("^[0-9]{4,8}$"));
    return kDigits.match(pin).hasMatch();
}

void TAdminPin::Set(const QString& pin) {
    if (pin.isEmpty()) {
        Settings_->remove(QString::fromUtf8(kAdminPinKey));
    } else {
        if (!IsValidAdminPin(pin)) throw std::runtime_error(kBadNewPinText);
        QByteArray salt(16, '\0');
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(salt.data()), salt.size() / 4);
        Settings_->setValue(QString::fromUtf8(kAdminPinKey), Digest(salt, pin));
    }
    Settings_->sync();
    QFile::setPermissions(Settings_->fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

bool TAdminPin::KioskMode() const { return Settings_->value(QString::fromUtf8(kKioskModeKey), false).toBool(); }

void TAdminPin::SetKioskMode(bool value) {
    Settings_->setValue(QString::fromUtf8(kKioskModeKey), value);
    Settings_->sync();
}

TAdminGuard::TAdminGuard(const TAdminPin& pin, TPinPrompt prompt, TPinRefusal refusal, TClock clock)
    : Pin_(pin), Prompt_(std::move(prompt)), Refusal_(std::move(refusal)), Clock_(std::move(clock)) {}

bool TAdminGuard::Allow() {
    if (!Pin_.IsSet()) return true;
    if (LockedUntil_) {
        if (Clock_() < *LockedUntil_) {
            Refusal_(QString::fromUtf8(kPinLockedText));
            return false;
        }
        LockedUntil_.reset();
        Failures_ = 0;
    }
    const std::optional<QString> typed = Prompt_();
    if (!typed) return false;
    if (Pin_.Matches(*typed)) {
        Failures_ = 0;
        return true;
    }
    if (++Failures_ >= kMaxFailures) {
        LockedUntil_ = Clock_() + kLockout;
        Refusal_(QString::fromUtf8(kPinLockedText));
    } else {
        Refusal_(QString::fromUtf8(kWrongPinText));
    }
    return false;
}
