// Instant messages on standard output: "message FROM TEXT" for one that
// arrived, "message-delivered TARGET" or "message-failed TARGET STATUS TEXT"
// for the answer to one sent.
#include "tools/softphone_cli/cli_agent.h"

void TCliAgent::ConnectMessageEvents() {
    connect(&Client_, &TSipClient::OnMessage, this,
            [](TSipClient*, ISipAccountPtr, const QString& from, const QString& text) {
                // One event per line: line breaks inside the text become blanks.
                QString flat = text;
                flat.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
                Print("message " + from.toStdString() + " " + flat.trimmed().toStdString());
            });
    connect(&Client_, &TSipClient::OnMessageStatus, this,
            [](TSipClient*, ISipAccountPtr, const QString& target, int status) {
                if (status >= 200 && status < 300)
                    Print("message-delivered " + target.toStdString());
                else
                    Print("message-failed " + target.toStdString() + " " +
                          StatusWithReason(std::to_string(status)));
            });
}
