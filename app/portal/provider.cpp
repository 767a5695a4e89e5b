#include "app/portal/provider.h"

QStringList DefaultSipServers() {
    return {QStringLiteral("sip1.telvira.example"), QStringLiteral("sip2.telvira.example"),
            QStringLiteral("sip3.telvira.example")};
}

QString DefaultPortalBaseUrl() { return QStringLiteral("http://portal.telvira.example"); }

QString DefaultWebBaseUrl() { return QStringLiteral("http://www.telvira.example"); }
