#include "app/booth/session_autostart.h"

#include <stdexcept>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// Desktop entries quote an argument holding a reserved character, and inside
// the quotes escape ", `, $ and \ with a backslash.
QString QuotedExec(const QString& path) {
    static const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : path) needsQuotes = needsQuotes || kReserved.contains(c);
    if (!needsQuotes) return path;
    QString quoted;
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
        quoted += c;
    }
    // The file format escapes backslashes once more when it reads strings.
    quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    return u'"' + quoted + u'"';
}

}  // namespace

TSessionAutostart::TSessionAutostart(QString executable) : Executable_(std::move(executable)) {}

QString TSessionAutostart::EntryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/telvira-softphone.desktop");
}

bool TSessionAutostart::IsEnabled() const { return QFileInfo::exists(EntryPath()); }

QString TSessionAutostart::EntryText() const {
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Softphone Telvira\n"
               "Comment=Inicia la cabina con la sesión\n"
               "Exec=%1\n"
               "Icon=telvira-softphone\n"
               "Terminal=false\n"
               "X-GNOME-Autostart-enabled=true\n")
        .arg(QuotedExec(Executable_));
}

void TSessionAutostart::SetEnabled(bool enabled) const {
    const QString path = EntryPath();
    if (!enabled) {
        if (QFileInfo::exists(path) && !QFile::remove(path))
            throw std::runtime_error(("No se pudo quitar el inicio con la sesión: " + path).toStdString());
        return;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        throw std::runtime_error(("No se pudo crear la carpeta " + QFileInfo(path).absolutePath()).toStdString());
    // Written whole or not at all: a half entry would start nothing at login.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(EntryText().toUtf8()) < 0 || !file.commit())
        throw std::runtime_error(("No se pudo escribir " + path + ": " + file.errorString()).toStdString());
}
