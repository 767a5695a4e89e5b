// `softphone --counter`: the counter's console instead of the booth. The
// shop database's address is the settings' Shop/database (the counter
// role's URL) unless `--shop-db URL` gives one; the operator's name is
// Shop/operator, else the system user's.
#pragma once

#include <QStringList>

bool IsCounterCommand(const QStringList& arguments);

// Runs the console until its window is closed; returns the exit code.
int RunCounter(int& argc, char** argv, const QStringList& arguments);
