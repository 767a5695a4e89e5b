#include "tools/portal_sim/sim_config.h"

#include <stdexcept>

#include <QStringList>

namespace {

QString Tagged(const QString& name, const QString& value) {
    return QStringLiteral("<%1>%2</%1>").arg(name, value);
}

QString Decode(const QString& field) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(field.toUtf8()));
}

void AddLine(TSimConfig& config, const QStringList& f) {
    const QString& kind = f[0];
    if (kind == u"version" && f.size() == 2) {
        config.Version = f[1];
    } else if (kind == u"account" && f.size() == 5) {
        config.Accounts.insert(f[1], TSimAccount{f[2], f[3], f[4], {}});
    } else if (kind == u"rate" && f.size() == 4) {
        config.Rates.append({f[1], f[2], f[3]});
    } else if (kind == u"call" && f.size() == 7) {
        if (!config.Accounts.contains(f[1])) throw std::runtime_error("call of an unknown account");
        config.Accounts[f[1]].Calls.append({f[2], f[3], f[4], f[5], f[6]});
    } else if (kind == u"reply" && f.size() == 3) {
        config.FixedReplies.insert(f[1], f[2]);
    } else {
        throw std::runtime_error("unknown line kind or wrong field count");
    }
}

QString Register(const TSimAccount& account) {
    QString text;
    for (int i = 0; i < account.Calls.size() && i < 5; ++i) {
        const TSimCall& c = account.Calls[i];
        const QString n = QString::number(i);
        text += Tagged(u'f' + n, c.When) + Tagged(u'n' + n, c.Number) +
                Tagged(u'd' + n, c.Destination) + Tagged(u't' + n, c.Duration) +
                Tagged(u'v' + n, c.Total) + u'\n';
    }
    return text;
}

QString AnswerRate(const TSimConfig& config, const QString& number) {
    const TSimRate* best = nullptr;
    for (const TSimRate& rate : config.Rates) {
        if (number.startsWith(rate.Prefix) && (!best || rate.Prefix.size() > best->Prefix.size())) {
            best = &rate;
        }
    }
    if (!best) return Tagged(QStringLiteral("de"), QStringLiteral("Destino desconocido")) + Tagged(QStringLiteral("vv"), QStringLiteral("0"));
    return Tagged(QStringLiteral("de"), best->Destination) + u'\n' + Tagged(QStringLiteral("vv"), best->Rate);
}

}  // namespace

TSimConfig ReadSimConfig(const QString& text) {
    TSimConfig config;
    const QStringList lines = text.split(u'\n');
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r')) line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(u'#')) continue;
        QStringList fields = line.split(u'|');
        for (QString& field : fields) field = Decode(field);
        try {
            AddLine(config, fields);
        } catch (const std::runtime_error& e) {
            throw std::runtime_error("configuration line " + std::to_string(i + 1) + ": " + e.what());
        }
    }
    return config;
}

QMap<QString, QString> ParseQuery(const QByteArray& query) {
    QMap<QString, QString> values;
    for (const QByteArray& pair : query.split('&')) {
        if (pair.isEmpty()) continue;
        const qsizetype eq = pair.indexOf('=');
        const auto decode = [](QByteArray part) {
            return QString::fromUtf8(QByteArray::fromPercentEncoding(part.replace('+', ' ')));
        };
        values.insert(decode(pair.left(eq < 0 ? pair.size() : eq)),
                      eq < 0 ? QString() : decode(pair.mid(eq + 1)));
    }
    return values;
}

QString AnswerQuery(const TSimConfig& config, const QMap<QString, QString>& query) {
    const QString action = query.value(QStringLiteral("ac"));
    if (config.FixedReplies.contains(action)) return config.FixedReplies.value(action);
    const auto account = config.Accounts.constFind(query.value(QStringLiteral("id")));
    if (account == config.Accounts.cend() || account->Password != query.value(QStringLiteral("dv"))) {
        return Tagged(QStringLiteral("er"), QStringLiteral("Usuario o clave incorrecta")) + u'\n';
    }
    if (action == u"va") {
        QString body = Tagged(QStringLiteral("er"), QString()) + Tagged(QStringLiteral("va"), account->Display) +
                       Tagged(QStringLiteral("cr"), account->Balance) + u'\n' + Register(*account);
        if (query.contains(QStringLiteral("ve"))) body += Tagged(QStringLiteral("ve"), config.Version) + u'\n';
        return body;
    }
    if (action == u"cr") return Tagged(QStringLiteral("cr"), account->Balance) + u'\n' + Register(*account);
    if (action == u"de") return AnswerRate(config, query.value(QStringLiteral("vl"))) + u'\n';
    return Tagged(QStringLiteral("er"), QStringLiteral("Accion desconocida")) + u'\n';
}
