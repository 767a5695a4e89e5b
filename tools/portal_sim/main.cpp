// portal-sim: a stand-in for the provider's billing portal, for tests and
// demonstrations. It serves GET "/portal/sys/procesar.php" on 127.0.0.1 and
// answers the booth's queries (ac=va, ac=cr, ac=de) in the portal's tagged
// text form.
//
//   portal-sim [--port N] [--config FILE] [--log FILE]
//              [--hang | --no-tags | --status CODE] [--delay MS]
//              [--hang-action ACTION]
//              [--watch-stdin]
//
//   --port N        port to listen on; 0 (the default) takes any free port.
//                   The port in use is the first line written to stdout.
//   --config FILE   accounts, rates, version and fixed replies (below).
//   --log FILE      appends one line per request received, before answering:
//                   connection number, method, target exactly as received,
//                   Accept, User-Agent and Cookie, separated by tabs.
//   --hang          reads and logs each request and never answers.
//   --no-tags       answers every request with a page holding no tags.
//   --status CODE   answers every request with this HTTP status.
//   --delay MS      holds each answer back this many milliseconds.
//   --hang-action A reads and logs requests of action A ("va", "cr", "de")
//                   and never answers them; others are answered.
//   --watch-stdin   ends when standard input closes, so a test that dies
//                   leaves no simulator behind.
//
// Configuration: one entry a line, fields separated by "|", each field
// percent-decoded ("%7C" is a bar, "%20" a blank, "%25" a percent sign) and
// otherwise taken exactly; blank lines and lines starting with "#" are
// skipped.
//
//   version|1165
//   account|NUMBER|PASSWORD|DISPLAY|BALANCE
//   call|NUMBER|DATE AND TIME|DIALLED|DESTINATION|DURATION|TOTAL
//   rate|PREFIX|DESTINATION|RATE
//   reply|ACTION|BODY
//
// BALANCE and RATE are written into "<cr>" and "<vv>" as they stand (the
// portal's balance is in hundred-thousandths: 123456789 is 1234.56789).
// Calls are the account's register, the first one listed being call 0; at
// most five are sent. The longest matching prefix prices a number ("vl");
// an unknown one gets "Destino desconocido" and rate 0. A "reply" line makes
// every request of that action ("va", "cr", "de") answer BODY whatever the
// account. A wrong account or password gets a non-empty "<er>". "<ve>" is
// sent only when the request carries "ve". The version defaults to 1164.
#include <cstdio>
#include <iostream>
#include <stdexcept>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <unistd.h>

#include "tools/portal_sim/sim_server.h"

namespace {

TSimConfig LoadConfig(const QString& path) {
    if (path.isEmpty()) return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw std::runtime_error("cannot read " + path.toStdString());
    return ReadSimConfig(QString::fromUtf8(file.readAll()));
}

TSimOptions Options(const QCommandLineParser& parser) {
    TSimOptions options;
    options.LogPath = parser.value("log");
    if (parser.isSet("hang")) options.Mode = TSimMode::Hang;
    if (parser.isSet("no-tags")) options.Mode = TSimMode::NoTags;
    options.HangAction = parser.value("hang-action");
    if (parser.isSet("delay")) {
        bool ok = false;
        options.DelayMs = parser.value("delay").toInt(&ok);
        if (!ok || options.DelayMs < 0) throw std::runtime_error("bad --delay");
    }
    if (parser.isSet("status")) {
        options.Mode = TSimMode::Status;
        bool ok = false;
        options.Status = parser.value("status").toInt(&ok);
        if (!ok || options.Status < 100 || options.Status > 599) throw std::runtime_error("bad --status");
    }
    return options;
}

quint16 Port(const QCommandLineParser& parser) {
    bool ok = false;
    const uint port = parser.value("port").toUInt(&ok);
    if (!ok || port > 65535) throw std::runtime_error("bad --port");
    return static_cast<quint16>(port);
}

void QuitWhenStdinCloses(QCoreApplication& app) {
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, notifier] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            notifier->setEnabled(false);
            app.quit();
        }
    });
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Billing portal simulator");
    parser.addHelpOption();
    parser.addOptions({
        {"port", "Port to listen on (0: any).", "N", "0"},
        {"config", "Configuration file.", "FILE"},
        {"log", "Request log file.", "FILE"},
        {"hang", "Never answer."},
        {"no-tags", "Answer without tags."},
        {"status", "Answer with this HTTP status.", "CODE"},
        {"delay", "Hold each answer back this long.", "MS"},
        {"hang-action", "Never answer requests of this action.", "ACTION"},
        {"watch-stdin", "End when standard input closes."},
    });
    parser.process(app);
    try {
        TSimServer server(LoadConfig(parser.value("config")), Options(parser));
        std::cout << server.Listen(Port(parser)) << std::endl;
        if (parser.isSet("watch-stdin")) QuitWhenStdinCloses(app);
        return app.exec();
    } catch (const std::exception& e) {
        std::cerr << "portal-sim: " << e.what() << std::endl;
        return 2;
    }
}
