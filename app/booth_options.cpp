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
    parser.addOptions({sip, portal, web, demo, pictures});
    if (!parser.parse(arguments)) throw std::invalid_argument(parser.errorText().toStdString());
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
