#include "app/ui/counter_program.h"

#include <cstdio>

#include <QProcessEnvironment>
#include <QSettings>

#include "app/ui/booth_application.h"
#include "app/booth/booth_options.h"
#include "app/booth/booth_settings.h"
#include "app/booth/booth_texts.h"
#include "app/ui/counter_demo.h"
#include "app/ui/counter_window.h"

bool IsCounterCommand(const QStringList& arguments) { return arguments.contains(QStringLiteral("--counter")); }

int RunCounter(int& argc, char** argv, const QStringList& arguments) {
    if (!DisplayAvailable(QProcessEnvironment::systemEnvironment())) {
        std::fprintf(stderr, "%s\n", kNoDisplayText);
        return 1;
    }
    TBoothApplication app(argc, argv);
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(kSettingsOrganization));
    QString url = settings.value(QStringLiteral("Shop/database")).toString().trimmed();
    const qsizetype given = arguments.indexOf(QStringLiteral("--shop-db"));
    if (given >= 0 && given + 1 < arguments.size()) url = arguments[given + 1];
    if (url.isEmpty()) {
        std::fprintf(stderr,
                     "softphone: falta la base de la tienda: Shop/database en la configuración o --shop-db URL\n");
        return 2;
    }
    QString operatorName = settings.value(QStringLiteral("Shop/operator")).toString().trimmed();
    if (operatorName.isEmpty()) operatorName = qEnvironmentVariable("USER", QStringLiteral("mostrador"));
    TCounterWindow window(url, operatorName);
    window.show();
    window.Start();
    // --demo DIR "Cabina 1,Cabina 2": the shop's demonstration, with pictures.
    const qsizetype demo = arguments.indexOf(QStringLiteral("--demo"));
    if (demo >= 0 && demo + 2 < arguments.size())
        new TCounterDemo(&window, arguments[demo + 2].split(u',', Qt::SkipEmptyParts), arguments[demo + 1]);
    return app.exec();
}
