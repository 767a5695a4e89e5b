// The shop's logins: the counter's and one per booth. Run by the shop's
// administrator (a role that may create roles), never by a booth.
#pragma once

#include <QSqlDatabase>
#include <QString>

// Gives the counter's role a login with this password (it is created
// NOLOGIN by the schema); run again, it changes the password.
void SetCounterPassword(QSqlDatabase& db, const QString& password);

// Creates the booth's login (BoothRoleName of its name) in the booth group
// with this password and registers the booth; run again, it changes the
// password. Returns the role's name. Throws std::runtime_error "No se puede
// crear la cabina ...: ..." when the name is empty, when its role already
// belongs to another booth, or with the server's text.
QString AddBoothRole(QSqlDatabase& db, const QString& boothName, const QString& password);
