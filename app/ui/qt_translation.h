// Qt's own Spanish texts (standard buttons "Aceptar", "Cancelar", "Sí",
// "No", the input and message boxes), from the translations the system's
// Qt installs.
#pragma once

class QCoreApplication;

// Installs the Spanish translation of Qt's base texts on the application;
// false when the system has none (the buttons then stay in English).
bool InstallQtSpanish(QCoreApplication& app);
