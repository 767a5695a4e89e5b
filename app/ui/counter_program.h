// `softphone --counter`: the counter's console instead of the booth. The
// shop database's address is the settings' Shop/database (the counter
// role's URL) unless `--shop-db URL` gives one; the operator's name is
// Shop/operator, else the system user's. `--demo DIR BOOTHS` runs the shop's
// demonstration (counter_demo.h) over the booths named, comma-separated.
#pragma once

#include <QStringList>

bool IsCounterCommand(const QStringList& arguments);

// Runs the console until its window is closed; returns the exit code.
int RunCounter(int& argc, char** argv, const QStringList& arguments);
