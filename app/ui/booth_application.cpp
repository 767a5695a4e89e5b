#include "app/ui/booth_application.h"

#include <exception>

#include "app/booth/booth_texts.h"
#include "app/ui/message_boxes.h"
#include "app/ui/qt_translation.h"

TBoothApplication::TBoothApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromUtf8(kAppTitle));
    setApplicationVersion(QString::fromUtf8(kProgramVersion));
    InstallQtSpanish(*this);
}

bool TBoothApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowError(activeWindow(), QString::fromUtf8(error.what()));
    } catch (...) {
        ShowError(activeWindow(), QStringLiteral("Error desconocido"));
    }
    return false;
}
