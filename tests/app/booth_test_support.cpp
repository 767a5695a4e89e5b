#include "tests/app/booth_test_support.h"

#include <QDesktopServices>
#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "tests/app/portal_sim.h"

namespace {

QTemporaryDir& TestFolder() {
    static QTemporaryDir folder;
    return folder;
}

void IsolateOnce() {
    static const bool done = [] {
        const QString base = TestFolder().path();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(base + QStringLiteral("/config")));
        const QString runtime = base + QStringLiteral("/runtime");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        return true;
    }();
    (void)done;
}

}  // namespace

QString IsolatedConfigHome() {
    IsolateOnce();
    return TestFolder().path() + QStringLiteral("/config");
}

QString IsolatedRuntimeDir() {
    IsolateOnce();
    return TestFolder().path() + QStringLiteral("/runtime");
}

void ClearBoothSettings() {
    IsolateOnce();
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(kSettingsOrganization));
    settings.clear();
    settings.sync();
}

void UseBoothTestLocale() { QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Argentina)); }

QStringList TestPortalConfig(const QString& version) {
    const QString account = QString::fromLatin1(kTestAccount);
    return {QStringLiteral("version|") + SimField(version),
            QStringLiteral("account|%1|%2|%3|123456789").arg(account, SimField(kTestPassword), SimField("Cuenta 5550001")),
            QStringLiteral("call|%1|%2|00541155551234|%3|00:01:05|2.00")
                .arg(account, SimField("2026-12-01 10:00"), SimField("Argentina Fijo")),
            QStringLiteral("call|%1|%2|0034911234567|%3|00:00:30|0.80")
                .arg(account, SimField("2026-11-30 18:45"), SimField("España"))};
}

// Two cards of each kind, numbered as a sound system with more cards than
// these would number them: the numbers are not the places in the lists.
TDeviceList TestDeviceNames(bool capture) {
    if (capture) return {{1, "Mic One"}, {4, "Mic Two"}};
    return {{0, "Speaker One"}, {3, "Speaker Two"}};
}

std::unique_ptr<TMainWindow> MakeWindow(const QString& portalUrl, const QString& sipServer) {
    IsolateOnce();
    return std::make_unique<TMainWindow>(
        TProviderAddresses{sipServer, portalUrl, QStringLiteral("http://web.test.invalid")}, TestDeviceNames);
}

bool StartAndWait(TMainWindow& window, int timeoutMs) {
    QSignalSpy done(&window, &TMainWindow::ValidationDone);
    window.Start();
    return done.count() > 0 || done.wait(timeoutMs);
}

TLinkRecorder::TLinkRecorder() {
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "Open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "Open");
}

TLinkRecorder::~TLinkRecorder() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}
