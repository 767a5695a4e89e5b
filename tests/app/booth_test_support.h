// Shared pieces of the main window tests: isolated settings, the portal's
// test accounts, a window started against a simulator, links caught instead
// of opened in a browser.
#pragma once

#include <memory>

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "app/booth/booth_settings.h"
#include "app/ui/main_window.h"

// Points XDG_CONFIG_HOME (and XDG_RUNTIME_DIR) at folders of this test run,
// once per process and before the first QSettings; returns the config folder.
QString IsolatedConfigHome();
QString IsolatedRuntimeDir();

// Empties the booth's settings file.
void ClearBoothSettings();

// The Spanish (Argentina) currency display used by every window test.
void UseBoothTestLocale();

inline constexpr char kTestAccount[] = "5550001";
// A password with every character that could cut or change a query.
inline const QString kTestPassword = QStringLiteral("p&w# +%1");

// Simulator lines: the test account with a balance of 1234.56789 and two
// calls in its register, and the given portal version.
QStringList TestPortalConfig(const QString& version = QStringLiteral("1164"));

// Device lists of the tests: two playback and two capture devices.
TDeviceList TestDeviceNames(bool capture);

// A window for the portal at `portalUrl` and the SIP server `sipServer`
// (nothing listens at the default), with the test device lists.
std::unique_ptr<TMainWindow> MakeWindow(const QString& portalUrl,
                                        const QString& sipServer = QStringLiteral("127.0.0.1:9"));

// Start() and the wait for the start-up validation's outcome to be shown;
// false when none came in time.
bool StartAndWait(TMainWindow& window, int timeoutMs = 20000);

template <class T>
T* Find(QObject* root, const char* name) {
    return root->findChild<T*>(QString::fromLatin1(name));
}

// Catches the links the window hands to the browser (http and https).
class TLinkRecorder : public QObject {
    Q_OBJECT

public:
    TLinkRecorder();
    ~TLinkRecorder() override;
    QList<QUrl> Links;

public slots:
    void Open(const QUrl& url) { Links.append(url); }
};
