// The account dialog's TLS files: the CA, the booth's certificate and its
// key, usable only when "tls" is chosen, refused on OK when they cannot be
// read, and kept in the booth's settings.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "app/booth/booth_settings.h"
#include "app/ui/account_dialog.h"
#include "tests/app/booth_test_support.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/modal_driver.h"
#include "tests/app/portal_sim.h"
#include "tests/app/test_registry.h"
#include "tests/sip/tls_test_peer.h"

namespace {

const char* const kFileFields[] = {"caFile", "certificate", "key"};

QLineEdit* Field(QWidget* dialog, const char* name) {
    return Find<QLineEdit>(dialog, (QByteArray(name) + "Field").constData());
}

QPushButton* Button(QWidget* dialog, const char* name) {
    return Find<QPushButton>(dialog, (QByteArray(name) + "Button").constData());
}

// A file with some bytes in `folder`; returns its path.
QString WriteFile(const QTemporaryDir& folder, const QString& name) {
    const QString path = folder.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write("-----BEGIN CERTIFICATE-----\n");
    return path;
}

}  // namespace

class AccountDialogTls : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseBoothTestLocale(); }
    void init() { ClearBoothSettings(); }

    void fieldsFollowTheTransport_data() {
        QTest::addColumn<QString>("transport");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("udp") << QStringLiteral("udp") << false;
        QTest::newRow("tcp") << QStringLiteral("tcp") << false;
        QTest::newRow("tls") << QStringLiteral("tls") << true;
    }
    // Each field and its "..." button with it, whatever was chosen before.
    void fieldsFollowTheTransport() {
        QFETCH(QString, transport);
        QFETCH(bool, enabled);
        for (const QString& before : {QStringLiteral("udp"), QStringLiteral("tls")}) {
            TAccountDialog dialog;
            dialog.SetTransport(before);
            dialog.SetTransport(transport);
            for (const char* name : kFileFields) {
                QVERIFY2(Field(&dialog, name)->isEnabled() == enabled, name);
                QVERIFY2(Button(&dialog, name)->isEnabled() == enabled, name);
            }
        }
    }

    void unusableFilesAreRefused_data() {
        QTest::addColumn<QString>("transport");
        QTest::addColumn<QString>("ca");
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("key");
        // What the box says (a %1 stands for the folder); empty: no box, the
        // dialog closes accepted.
        QTest::addColumn<QString>("refusal");
        const QString good = QStringLiteral("good.pem");
        QTest::newRow("readable files") << "tls" << good << good << good << QString();
        QTest::newRow("no files") << "tls" << QString() << QString() << QString() << QString();
        QTest::newRow("missing CA") << "tls" << "nada.pem" << good << good
                                    << "No se puede leer el archivo %1/nada.pem (Certificado de la CA).";
        QTest::newRow("folder as certificate")
            << "tls" << QString() << "carpeta" << good
            << "No se puede leer el archivo %1/carpeta (Certificado).";
        QTest::newRow("missing key") << "tls" << QString() << good << "nada.key"
                                     << "No se puede leer el archivo %1/nada.key (Clave privada).";
        QTest::newRow("certificate without key")
            << "tls" << QString() << good << QString() << "Falta la clave privada del certificado.";
        QTest::newRow("key without certificate")
            << "tls" << QString() << QString() << good << "Falta el certificado de la clave privada.";
        // Files TLS alone would use are no reason to refuse another transport.
        QTest::newRow("missing files over tcp") << "tcp" << "nada.pem" << "nada.pem" << QString() << QString();
    }
    // A refused OK names the file and leaves the dialog open for a better
    // one; the box comes up only for what cannot be used.
    void unusableFilesAreRefused() {
        QFETCH(QString, transport);
        QFETCH(QString, ca);
        QFETCH(QString, certificate);
        QFETCH(QString, key);
        QFETCH(QString, refusal);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        WriteFile(folder, QStringLiteral("good.pem"));
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("carpeta")));
        const auto inFolder = [&](const QString& name) { return name.isEmpty() ? name : folder.filePath(name); };
        TAccountDialog dialog;
        dialog.SetTransport(transport);
        dialog.SetCaFile(inFolder(ca));
        dialog.SetCertificateFile(inFolder(certificate));
        dialog.SetKeyFile(inFolder(key));
        dialog.show();
        TModalDriver boxes;
        Find<QPushButton>(&dialog, "acceptButton")->click();
        if (refusal.isEmpty()) {
            QCOMPARE(boxes.Seen(), QStringList{});
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QVERIFY(!dialog.isVisible());
        } else {
            const QString text = refusal.contains(QLatin1String("%1")) ? refusal.arg(folder.path()) : refusal;
            QCOMPARE(boxes.Seen(), QStringList{dialog.windowTitle() + "|" + text});
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
    }

    // The booth fills the fields from its settings and keeps what OK
    // leaves in them, beside the account, and hands the new pair to its
    // client.
    void filesAreStoredWithTheAccount() {
        // Files the booth can use: it takes the certificate at start.
        const sip_test::TTestCertificate before;
        const sip_test::TTestCertificate after;
        const auto path = [](const std::string& file) { return QString::fromStdString(file); };
        const QString ca = path(before.CertificateFile());
        const QString oldCertificate = path(before.CertificateFile());
        const QString oldKey = path(before.KeyFile());
        const QString newCertificate = path(after.CertificateFile());
        const QString newKey = path(after.KeyFile());
        TBoothSettings settings;
        settings.WriteAccount({kTestAccount, kTestPassword, QString(), QString()});
        settings.WriteTransport(QStringLiteral("tls"));
        settings.WriteTlsCaFile(ca);
        settings.WriteTlsCertificate(oldCertificate, oldKey);
        TPortalSim sim(TestPortalConfig());
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        QStringList shown;
        TDialogDriver driver(Find<QWidget>(window.get(), "accountDialog"), [&](QWidget* open) {
            for (const char* name : kFileFields) shown << Field(open, name)->text();
            Field(open, "certificate")->setText(newCertificate);
            Field(open, "key")->setText(QStringLiteral(" ") + newKey);
            Find<QPushButton>(open, "acceptButton")->click();
        });
        QSignalSpy validated(window.get(), &TMainWindow::AccountValidated);
        Find<QAction>(window.get(), "accountDialogAction")->trigger();
        QVERIFY(driver.Done());
        QVERIFY(validated.count() > 0 || validated.wait(10000));
        QCOMPARE(shown, (QStringList{ca, oldCertificate, oldKey}));
        const TBoothSettings stored;
        QCOMPARE(stored.ReadTlsCaFile(), ca);
        QCOMPARE(stored.ReadTlsCertificate(), newCertificate);
        QCOMPARE(stored.ReadTlsKey(), newKey);
        // The booth's client takes them at its next activation.
        QCOMPARE(path(window->Client().GetTlsCertificateFile()), newCertificate);
        QCOMPARE(path(window->Client().GetTlsKeyFile()), newKey);
        QCOMPARE(boxes.Seen(), QStringList{});
    }
};

BOOTH_TEST_CLASS(AccountDialogTls);
#include "account_dialog_tls_test.moc"
