#include "app/portal/portal_reply.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace {

constexpr qsizetype kOpenTagLength = 4;

// The leading minus sign the portal writes before a debt, after any blanks.
bool HasLeadingMinus(const QString& text) {
    for (const QChar c : text) {
        if (c == u'-') return true;
        if (!c.isSpace()) return false;
    }
    return false;
}

QString Tag(char kind, int index, bool closing) {
    return QStringLiteral("<%1%2%3>")
        .arg(closing ? QStringLiteral("/") : QString())
        .arg(QChar::fromLatin1(kind))
        .arg(index);
}

QString Between(const QString& reply, const char* name) {
    const QString tag = QString::fromLatin1(name);
    return Extract(reply, u'<' + tag + u'>', QStringLiteral("</") + tag + u'>');
}

// The opening tag, then its closing tag after it.
bool HasTagged(const QString& reply, const char* name) {
    const QString tag = QString::fromLatin1(name);
    const qsizetype open = reply.indexOf(u'<' + tag + u'>');
    return open >= 0 && reply.indexOf(QStringLiteral("</") + tag + u'>') >= open + tag.size() + 2;
}

}  // namespace

QString Extract(const QString& reply, const QString& openTag, const QString& closeTag) {
    const qsizetype p = reply.indexOf(openTag) + 1;  // 1-based, 0 when absent
    const qsizetype q = reply.indexOf(closeTag) + 1;
    qsizetype start = p + kOpenTagLength;
    qsizetype length = q - (p + kOpenTagLength);
    if (start < 1) start = 1;
    if (length < 0) length = 0;
    if (start > reply.size()) return QString();
    return reply.mid(start - 1, length);
}

QString Digits(const QString& text) {
    QString digits;
    for (const QChar c : text) {
        if (c == QChar(u'\0')) break;
        if (c >= u'0' && c <= u'9') digits.append(c);
    }
    return digits.isEmpty() ? QStringLiteral("0") : digits;
}

std::int64_t WholeNumber(const QString& digits) {
    if (digits.isEmpty()) throw std::invalid_argument("empty number");
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9') {
            throw std::invalid_argument("'" + digits.toStdString() + "' is not a whole number");
        }
        const int digit = c.unicode() - u'0';
        if (value > (kMax - digit) / 10) {
            throw std::overflow_error("number " + digits.toStdString() + " is too large");
        }
        value = value * 10 + digit;
    }
    return value;
}

TMoney Balance(const QString& text) {
    const std::int64_t size = WholeNumber(Digits(text));
    return MoneyFromHundredThousandths(HasLeadingMinus(text) ? -size : size);
}

TMoney Rate(const QString& text) { return MoneyFromUnits(WholeNumber(Digits(text))); }

TCallRegister ExtractRegister(const QString& reply) {
    TCallRegister calls;
    for (int i = 0; i < static_cast<int>(calls.size()); ++i) {
        const auto value = [&](char kind) {
            return Extract(reply, Tag(kind, i, false), Tag(kind, i, true));
        };
        calls[i] = {value('f'), value('n'), value('d'), value('t'), value('v')};
    }
    return calls;
}

TValidationReply ParseValidation(const QString& reply) {
    const QString error = Between(reply, "er");
    if (error.isEmpty() && !(HasTagged(reply, "va") && HasTagged(reply, "cr")))
        throw std::invalid_argument("the portal's reply names no account");
    return {Between(reply, "er"), Between(reply, "va"), Balance(Between(reply, "cr")),
            ExtractRegister(reply), Between(reply, "ve")};
}

TBalanceReply ParseBalance(const QString& reply) {
    return {Balance(Between(reply, "cr")), ExtractRegister(reply)};
}

TRateReply ParseRate(const QString& reply) {
    const QString rate = Between(reply, "vv");
    const qsizetype open = reply.indexOf(u"<vv>");
    const qsizetype close = reply.indexOf(u"</vv>");
    const bool priced = open >= 0 && close >= open + 4 && std::any_of(rate.begin(), rate.end(), [](QChar c) {
                            return c >= u'0' && c <= u'9';
                        });
    return {Between(reply, "de"), Rate(rate), priced};
}

bool IsNewerVersion(const QString& portalVersion, const QString& ourVersionDigits) {
    const auto integer = [](const QString& text) {
        bool ok = false;
        const qlonglong value = text.toLongLong(&ok, 10);
        if (!ok) throw std::invalid_argument("'" + text.toStdString() + "' is not a valid integer value");
        return value;
    };
    return integer(portalVersion) > integer(ourVersionDigits);
}
