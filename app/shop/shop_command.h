// The shop administrator's commands of the booth program, run without a
// window:
//   softphone --init-shop-db URL [COUNTER_PASSWORD]
//   softphone --add-booth-role URL "BOOTH NAME" PASSWORD
// URL names an existing database and a role that may create roles and
// schemas there. Both are safe to run again.
#pragma once

#include <QStringList>
#include <QTextStream>

// Whether the arguments (the program first) ask for one of these commands.
bool IsShopCommand(const QStringList& arguments);

// Runs it, reporting on `out` and `err` in Spanish and English; returns the
// program's exit status (0 done, 1 refused by the database, 2 misused).
// Needs a QCoreApplication (for the database driver).
int RunShopCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
