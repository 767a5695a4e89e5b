// softphone-cli: a headless user agent driven by commands on standard input.
#include <QCoreApplication>
#include <QMetaObject>

#include <iostream>

#include "tools/softphone_cli/cli_agent.h"
#include "tools/softphone_cli/stdin_reader.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TCliOptions options;
    try {
        options = ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n" << kCliUsage;
        return 2;
    }
    // The audio device factory picks these up when a call starts its media.
    if (!options.mic.empty())
        qputenv("SOFTPHONE_MIC", QByteArray::fromStdString(options.mic));
    // A WAV speaker is given to each call itself, numbered per call.
    if (!options.speaker.empty() && !options.speaker.ends_with(".wav"))
        qputenv("SOFTPHONE_SPEAKER", QByteArray::fromStdString(options.speaker));

    TCliAgent agent(options);
    try {
        agent.Start();
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << std::endl;
        return 1;
    }
    QObject::connect(&agent, &TCliAgent::Finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    TStdinReader reader([&agent](std::optional<std::string> line) {
        QMetaObject::invokeMethod(
            &agent, [&agent, line = std::move(line)] { agent.Enqueue(line); },
            Qt::QueuedConnection);
    });
    return app.exec();
}
