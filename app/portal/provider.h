// The provider's host names and the addresses on them. The names are
// fictional defaults; staging and tests put their own servers in their place.
#pragma once

#include <QString>
#include <QStringList>

// The SIP servers offered for the account, the first being the one used.
QStringList DefaultSipServers();

// Scheme and authority of the billing portal, "http://portal.telvira.example".
QString DefaultPortalBaseUrl();

// Scheme and authority of the provider's web site, "http://www.telvira.example".
QString DefaultWebBaseUrl();

// Paths on those hosts.
inline constexpr char kPortalScriptPath[] = "/portal/sys/procesar.php";
inline constexpr char kCallDetailPath[] = "/portal/tarificador/cdr.php";
inline constexpr char kDownloadPath[] = "/es/cdescargas.php";
