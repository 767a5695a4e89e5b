// softphone: the booth program.
//
//   softphone [--sip-server HOST[:PORT]] [--portal-url URL] [--web-url URL]
//             [--demo-call NUMBER [--screenshots DIR]] [--help] [--version]
//   softphone --init-shop-db URL [COUNTER_PASSWORD]
//   softphone --add-booth-role URL "BOOTH NAME" PASSWORD
//   softphone --counter [--shop-db URL]
//
// The options (or the settings keys Provider/sipserver, Provider/portalurl
// and Provider/weburl) put staging or test servers in place of the
// provider's. --demo-call dials one number once on line and hangs up after
// a few seconds; with --screenshots the window's pictures are saved there
// and the program ends after the call.
#include <cstdio>
#include <exception>

#include <QCoreApplication>
#include <QSessionManager>
#include <QTextStream>

#include "app/booth/booth_options.h"
#include "app/booth/booth_texts.h"
#include "app/booth/single_instance.h"
#include "app/booth/stop_signals.h"
#include "app/ui/counter_program.h"
#include "app/shop/shop_command.h"
#include "app/ui/booth_application.h"
#include "app/ui/demo_run.h"
#include "app/ui/main_window.h"
#include "app/ui/message_boxes.h"

int main(int argc, char* argv[]) {
    // Read before the application object, which needs a display: --help and
    // a missing display must answer on any terminal.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    // The shop administrator's commands need no display and no booth.
    if (IsShopCommand(arguments)) {
        QCoreApplication core(argc, argv);
        QTextStream out(stdout);
        QTextStream err(stderr);
        return RunShopCommand(arguments, out, err);
    }
    // The shop's counter runs the console, not a booth.
    if (IsCounterCommand(arguments)) return RunCounter(argc, argv, arguments);
    TCommandLine commandLine;
    try {
        commandLine = ParseCommandLine(arguments);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "softphone: %s\n", error.what());
        return 2;
    }
    if (commandLine.Help) {
        std::fputs(HelpText().toUtf8().constData(), stdout);
        return 0;
    }
    if (commandLine.Version) {
        std::printf("softphone %s\n", kProgramVersion);
        return 0;
    }
    if (!DisplayAvailable(QProcessEnvironment::systemEnvironment())) {
        std::fprintf(stderr, "%s\n", kNoDisplayText);
        return 1;
    }
    TBoothApplication app(argc, argv);
    TSingleInstance guard(QString::fromUtf8(kAppTitle));
    if (!guard.IsFirst()) {
        // The first copy comes forward first; its window stays on top of
        // others, so the notice must stay on top too to be seen above it.
        guard.AskFirstToShow();
        ShowMessageOnTop(QString::fromUtf8(kAlreadyRunningText));
        return 0;
    }
    const TBoothSettings settings;
    TMainWindow window(ResolveProviderAddresses(commandLine.Overrides, settings.ReadProvider()));
    QObject::connect(&guard, &TSingleInstance::ShowRequested, &window, &TMainWindow::ShowWindow);
    // A shutdown, a logout or Ctrl+C ends the call and the registration
    // before the program goes.
    TStopSignals stopSignals;
    QObject::connect(&stopSignals, &TStopSignals::Received, &window, [&window] {
        window.ShutDown();
        QCoreApplication::quit();
    });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&window] { window.ShutDown(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&window] { window.ShutDown(); });
    window.Start();
    window.ShowAsConfigured();
    if (!commandLine.DemoCall.isEmpty()) new TDemoRun(&window, commandLine.DemoCall, commandLine.ScreenshotDir);
    return app.exec();
}
