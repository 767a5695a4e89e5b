// "Iniciar con la sesión": the booth starts when the operator's desktop
// session starts, through an XDG autostart entry in the user's configuration
// folder ($XDG_CONFIG_HOME/autostart). The entry's presence is the setting:
// whatever the desktop would do is what the menu shows.
#pragma once

#include <QString>

class TSessionAutostart {
public:
    // executable: the program the entry starts (the running booth's path).
    explicit TSessionAutostart(QString executable);

    bool IsEnabled() const;
    // Writes or removes the entry; throws std::runtime_error with a Spanish
    // text the booth can show when the folder or file cannot be written.
    void SetEnabled(bool enabled) const;

    static QString EntryPath();
    // The entry's text, Exec quoted as desktop entries require when the path
    // holds spaces or characters the launcher would read as its own.
    QString EntryText() const;

private:
    QString Executable_;
};
