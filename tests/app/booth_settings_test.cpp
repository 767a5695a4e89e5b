// The booth's stored values in an isolated configuration folder: where they
// live, that only the user can read them, and what reads back.
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTest>

#include "app/booth/booth_settings.h"
#include "tests/app/booth_test_support.h"
#include "tests/app/test_registry.h"

class BoothSettings : public QObject {
    Q_OBJECT

private slots:
    void init() { ClearBoothSettings(); }

    void missingValuesReadEmpty() {
        const TBoothSettings settings;
        QCOMPARE(settings.ReadAccount(), TAccountSettings{});
        QVERIFY(settings.ReadProvider().SipServer.isEmpty());
    }

    void accountLivesInTheUsersConfigFolderForTheOwnerOnly() {
        const QString folder = IsolatedConfigHome();
        {
            TBoothSettings settings;
            settings.WriteAccount({"5550001", kTestPassword, "Mic One", "Speaker Two"});
        }
        const QString file = folder + QStringLiteral("/Telvira Softphone.conf");
        QVERIFY2(QFileInfo::exists(file), qPrintable(file));
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFile::permissions(file) & others, QFile::Permissions());
        QVERIFY(QFile::permissions(file) & QFile::ReadOwner);
        QSettings raw(file, QSettings::IniFormat);
        QCOMPARE(raw.value("Account/username").toString(), QStringLiteral("5550001"));
        QCOMPARE(raw.value("Account/password").toString(), kTestPassword);
        QCOMPARE(raw.value("Account/wavein").toString(), QStringLiteral("Mic One"));
        QCOMPARE(raw.value("Account/waveout").toString(), QStringLiteral("Speaker Two"));
    }

    void credentialsOverwriteAndKeepTheDevices() {
        TBoothSettings settings;
        settings.WriteAccount({"1", "2", "Mic One", "Speaker One"});
        settings.WriteCredentials(QString(), QString());
        const TBoothSettings again;
        QCOMPARE(again.ReadAccount(), (TAccountSettings{"", "", "Mic One", "Speaker One"}));
    }

    void providerKeysAreRead() {
        {
            QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Telvira Softphone");
            raw.setValue("Provider/sipserver", "127.0.0.1:5060");
            raw.setValue("Provider/portalurl", "http://127.0.0.1:8000");
            raw.setValue("Provider/weburl", "http://127.0.0.1:8001");
        }
        const TProviderSettings provider = TBoothSettings().ReadProvider();
        QCOMPARE(provider.SipServer, QStringLiteral("127.0.0.1:5060"));
        QCOMPARE(provider.PortalUrl, QStringLiteral("http://127.0.0.1:8000"));
        QCOMPARE(provider.WebUrl, QStringLiteral("http://127.0.0.1:8001"));
    }
};
BOOTH_TEST_CLASS(BoothSettings);

#include "booth_settings_test.moc"
