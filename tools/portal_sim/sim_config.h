// What the portal simulator knows (accounts, rates, version, fixed replies)
// and how it answers one query in the portal's tagged-text form.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

struct TSimCall {
    QString When;
    QString Number;
    QString Destination;
    QString Duration;
    QString Total;
};

struct TSimAccount {
    QString Password;
    QString Display;
    QString Balance;  // written into "<cr>" as it stands
    QList<TSimCall> Calls;  // index 0 first; at most five are sent
};

struct TSimRate {
    QString Prefix;
    QString Destination;
    QString Rate;  // written into "<vv>" as it stands
};

struct TSimConfig {
    QString Version = QStringLiteral("1164");
    QMap<QString, TSimAccount> Accounts;  // by account number
    QList<TSimRate> Rates;
    QMap<QString, QString> FixedReplies;  // by action ("va", "cr", "de"): whole body
};

// Reads the configuration text; throws std::runtime_error naming the line of
// the first line it cannot read.
TSimConfig ReadSimConfig(const QString& text);

// Query keys to values, decoded as a PHP portal decodes them ("+" is a blank,
// then percent escapes as UTF-8); a repeated key keeps its last value.
QMap<QString, QString> ParseQuery(const QByteArray& query);

// The reply body for one request's query.
QString AnswerQuery(const TSimConfig& config, const QMap<QString, QString>& query);
