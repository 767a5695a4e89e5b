// Where the booth finds its provider: the SIP server, the billing portal and
// the web site. Each comes from the command line, else from the stored
// settings, else from the provider's own names, so staging and tests point
// the program at local servers without a rebuild.
#pragma once

#include <optional>

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "app/booth/booth_settings.h"

struct TProviderAddresses {
    QString SipServer;  // "host" or "host:port", as AddAccount takes it
    QString PortalUrl;  // "http://host[:port]"
    QString WebUrl;     // "http://host[:port]"

    friend bool operator==(const TProviderAddresses&, const TProviderAddresses&) = default;
};

// What the command line asked for; absent options stay empty.
struct TCommandLine {
    TProviderSettings Overrides;
    // The demonstration: a number dialled once the booth is on line, and a
    // folder for pictures of the window (the program ends after the call
    // when one is given).
    QString DemoCall;
    QString ScreenshotDir;
    // --help and --version: the text is printed and the program ends.
    bool Help = false;
    bool Version = false;
};

// What --help prints, in Spanish.
QString HelpText();

// Whether the windowing system the program would use is there: an X
// display, a Wayland one, or a platform of Qt's that needs none
// (offscreen, a frame buffer). Checked before the application object, which
// would otherwise abort.
bool DisplayAvailable(const QProcessEnvironment& environment);
inline constexpr char kNoDisplayText[] =
    "softphone: no se encontró una pantalla gráfica (DISPLAY o WAYLAND_DISPLAY vacías). "
    "Inicie el programa desde la sesión gráfica de la cabina.";

// Reads --sip-server HOST[:PORT], --portal-url URL, --web-url URL,
// --demo-call NUMBER, --screenshots DIR, --help (-h) and --version (-v) from
// the program's arguments (the first being the program). Throws
// std::invalid_argument with a message for the user on an unknown option, a
// missing value or a value of the wrong form.
TCommandLine ParseCommandLine(const QStringList& arguments);

// Whether text is "host" or "host:port" with a port from 1 to 65535.
bool IsSipServerAddress(const QString& text);

// Whether text is an absolute http or https address with a host.
bool IsWebAddress(const QString& text);

// Command line first, then settings, then the provider's defaults; a stored
// value of the wrong form is passed over, so a damaged settings file cannot
// point the booth at nowhere.
TProviderAddresses ResolveProviderAddresses(const TProviderSettings& commandLine,
                                            const TProviderSettings& stored);
