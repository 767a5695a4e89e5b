#include "app/booth_options.h"

#include <stdexcept>

#include <QCommandLineParser>
#include <QUrl>

#include "app/provider.h"

bool IsSipServerAddress(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() > 2 || parts[0].isEmpty()) return false;
    for (const QChar c : parts[0])
        if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-'))) return false;
    if (parts.size() == 1) return true;
    bool ok = false;
    const int port = parts[1].toInt(&ok);
    return ok && port >= 1 && port <= 65535 && parts[1].at(0).isDigit();
}

bool IsWebAddress(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
           !url.host().isEmpty();
}

TCommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption sip(QStringLiteral("sip-server"), QStringLiteral("SIP server"),
                                 QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption portal(QStringLiteral("portal-url"), QStringLiteral("billing portal"),
                                    QStringLiteral("URL"));
    const QCommandLineOption web(QStringLiteral("web-url"), QStringLiteral("web site"), QStringLiteral("URL"));
    const QCommandLineOption demo(QStringLiteral("demo-call"), QStringLiteral("number to dial"),
                                  QStringLiteral("NUMBER"));
    const QCommandLineOption pictures(QStringLiteral("screenshots"), QStringLiteral("picture folder"),
                                      QStringLiteral("DIR"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("help"));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("version"));
    parser.addOptions({sip, portal, web, demo, pictures, help, version});
    if (!parser.parse(arguments)) throw std::invalid_argument(parser.errorText().toStdString());
    if (parser.isSet(help) || parser.isSet(version)) {
        TCommandLine asked;
        asked.Help = parser.isSet(help);
        asked.Version = !asked.Help;
        return asked;
    }
    if (!parser.positionalArguments().isEmpty())
        throw std::invalid_argument("unexpected argument: " + parser.positionalArguments().first().toStdString());
    TCommandLine result;
    result.Overrides = {parser.value(sip), parser.value(portal), parser.value(web)};
    result.DemoCall = parser.value(demo);
    result.ScreenshotDir = parser.value(pictures);
    if (parser.isSet(pictures) && result.DemoCall.isEmpty())
        throw std::invalid_argument("--screenshots needs --demo-call");
    if (parser.isSet(sip) && !IsSipServerAddress(result.Overrides.SipServer))
        throw std::invalid_argument("--sip-server takes HOST[:PORT]");
    if (parser.isSet(portal) && !IsWebAddress(result.Overrides.PortalUrl))
        throw std::invalid_argument("--portal-url takes an http address");
    if (parser.isSet(web) && !IsWebAddress(result.Overrides.WebUrl))
        throw std::invalid_argument("--web-url takes an http address");
    return result;
}

QString HelpText() {
    return QString::fromUtf8(
        "Uso: softphone [opciones]\n"
        "\n"
        "Teléfono de cabina de Telvira: llamadas por Internet con tarifa y cobro en caja.\n"
        "\n"
        "Opciones:\n"
        "  --sip-server HOST[:PUERTO]  servidor SIP en lugar del del proveedor\n"
        "  --portal-url URL            portal de facturación en lugar del del proveedor\n"
        "  --web-url URL               sitio web en lugar del del proveedor\n"
        "  --demo-call NÚMERO          llama una vez a NÚMERO al estar en línea y cuelga\n"
        "  --screenshots CARPETA       con --demo-call: guarda imágenes de la ventana y termina\n"
        "  -h, --help                  muestra esta ayuda y termina\n"
        "  -v, --version               muestra la versión y termina\n"
        "\n"
        "Base de la tienda (PostgreSQL), sin ventana:\n"
        "  --init-shop-db URL [CONTRASEÑA_DEL_MOSTRADOR]\n"
        "                              crea o actualiza el esquema y los roles\n"
        "  --add-booth-role URL \"CABINA\" CONTRASEÑA\n"
        "                              crea el rol de una cabina\n");
}

bool DisplayAvailable(const QProcessEnvironment& environment) {
    const QString platform = environment.value(QStringLiteral("QT_QPA_PLATFORM"));
    const bool x = !environment.value(QStringLiteral("DISPLAY")).isEmpty();
    const bool wayland = !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
    if (platform.isEmpty()) return x || wayland;
    // A list ("wayland;xcb") is tried in order: any of them will do.
    for (const QString& name : platform.split(u';', Qt::SkipEmptyParts)) {
        const QString plugin = name.section(u':', 0, 0);
        if (plugin == u"xcb" ? x : plugin.startsWith(u"wayland") ? wayland : true) return true;
    }
    return false;
}

namespace {

QString FirstValid(const QString& commandLine, const QString& stored, const QString& fallback,
                   bool (*valid)(const QString&)) {
    if (!commandLine.isEmpty()) return commandLine;
    if (valid(stored)) return stored;
    return fallback;
}

}  // namespace

TProviderAddresses ResolveProviderAddresses(const TProviderSettings& commandLine,
                                            const TProviderSettings& stored) {
    return {FirstValid(commandLine.SipServer, stored.SipServer, DefaultSipServers().first(), IsSipServerAddress),
            FirstValid(commandLine.PortalUrl, stored.PortalUrl, DefaultPortalBaseUrl(), IsWebAddress),
            FirstValid(commandLine.WebUrl, stored.WebUrl, DefaultWebBaseUrl(), IsWebAddress)};
}
