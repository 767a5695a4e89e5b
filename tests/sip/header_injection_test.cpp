// Hostile values in every field an operator or host can set that reaches a
// header: each composed message must keep its shape (the same header lines
// in the same order, quoted strings closed, the URI of each field intact) or
// the value must be refused.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include "sip/compose.h"
#include "sip/header_values.h"
#include "sip/message.h"
#include "sip/transport.h"
#include "tests/sip/fake_call.h"

namespace {

using sip_header::EscapeUserPart;
using sip_header::QuotedString;
using sip_header::TargetUri;

// --- the writing rules -------------------------------------------------------

TEST(HeaderValues, UserPartKeepsAllowedCharactersAndEncodesTheRest) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"5491155550000", "5491155550000"},
        {"+54-11.5555*1#", "+54-11.5555*1%23"},
        {"a b", "a%20b"},
        {"x\r\nVia: evil", "x%0D%0AVia%3A%20evil"},
        {"<sip:x>", "%3Csip%3Ax%3E"},
        {"1%41", "1%41"},            // an escape already formed stays
        {"50%", "50%25"},            // a lone percent sign does not
        {"a@b", "a%40b"},
        {std::string("n\0ul", 4), "n%00ul"},
        {"\xC3\xB1", "%C3%B1"},      // UTF-8 bytes one by one
        {"\"q\";tag=1", "%22q%22%3Btag%3D1"},
    };
    for (const auto& c : cases) EXPECT_EQ(EscapeUserPart(c.in), c.out) << c.in;
    // Encoding an encoded value changes nothing: a target taken back from a
    // received message is not escaped twice.
    for (const auto& c : cases) EXPECT_EQ(EscapeUserPart(c.out), c.out) << c.out;
}

TEST(HeaderValues, QuotedStringEscapesQuotesAndBackslashesAndDropsControls) {
    EXPECT_EQ(QuotedString("Linea 1"), "\"Linea 1\"");
    EXPECT_EQ(QuotedString("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(QuotedString("back\\"), "\"back\\\\\"");
    EXPECT_EQ(QuotedString("a\r\nb\x7F"), "\"ab\"");
}

TEST(HeaderValues, TargetUriTable) {
    const struct {
        std::string target;
        std::string uri;  // empty: refused
    } cases[] = {
        {"2001", "sip:2001@sip.telvira.example"},
        {"bob@192.0.2.7:5080", "sip:bob@192.0.2.7:5080"},
        {"sip:bob@host.example", "sip:bob@host.example"},
        {"SIP:bob@[2001:db8::1]:5060", "sip:bob@[2001:db8::1]:5060"},
        {"sips:bob@host.example", "sips:bob@host.example"},
        {"SIPS:2001", "sips:2001@sip.telvira.example"},
        {"12 34", "sip:12%2034@sip.telvira.example"},
        {"bob@evil>;x=1", ""},
        {"bob@host\r\nX: 1", ""},
        {"bob@host:0", ""},
        {"bob@host:65536", ""},
        {"bob@-host", ""},
        {"bob@", ""},
        {"@host", ""},
        {"", ""},
        {std::string(128, '1'), "sip:" + std::string(128, '1') + "@sip.telvira.example"},
        {std::string(129, '1'), ""},
        {std::string(43, ' '), ""},  // 129 bytes once encoded
        {"bob@" + std::string(254, 'h'), ""},
    };
    for (const auto& c : cases) {
        if (c.uri.empty()) {
            EXPECT_THROW(TargetUri(c.target, "sip.telvira.example"), std::invalid_argument)
                << c.target;
        } else {
            EXPECT_EQ(TargetUri(c.target, "sip.telvira.example"), c.uri);
        }
    }
    EXPECT_THROW(sip_header::RequireDialTarget("20\t01"), std::invalid_argument);
    EXPECT_NO_THROW(sip_header::RequireDialTarget("20 01"));
}

// --- composed messages parsed back --------------------------------------------

// Header names of a datagram in order, after checking that every header
// line is "Name: value" without a stray CR or LF, that the request line has
// exactly three parts and that Content-Length counts the body.
std::vector<std::string> HeaderNamesOfWellFormed(const std::string& text) {
    std::vector<std::string> names;
    const auto end = text.find("\r\n\r\n");
    EXPECT_NE(end, std::string::npos) << text;
    if (end == std::string::npos) return names;
    const std::string head = text.substr(0, end + 2);
    const std::string body = text.substr(end + 4);
    std::size_t start = 0;
    bool first = true;
    while (start < head.size()) {
        const auto lineEnd = head.find("\r\n", start);
        const std::string line = head.substr(start, lineEnd - start);
        start = lineEnd + 2;
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        EXPECT_EQ(line.find('\0'), std::string::npos) << line;
        if (first) {
            first = false;
            if (line.rfind("SIP/2.0 ", 0) == 0) continue;  // a status line
            const auto blank = line.find(' ');
            EXPECT_EQ(line.find(' ', blank + 1), line.rfind(' ')) << "request line: " << line;
            continue;
        }
        const auto colon = line.find(": ");
        EXPECT_NE(colon, std::string::npos) << line;
        const std::string name = line.substr(0, colon);
        EXPECT_EQ(name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-"),
                  std::string::npos)
            << line;
        names.push_back(name);
        if (name == "Content-Length") {
            EXPECT_EQ(line.substr(colon + 2), std::to_string(body.size()));
        }
    }
    EXPECT_LE(text.size(), kMaxDatagram);
    return names;
}

// The value of the first `name:` line.
std::string HeaderValue(const std::string& text, const std::string& name) {
    return ValueAfter(text, "\r\n" + name + ": ");
}

// A quoted string at the start of `text`, unescaped; `rest` gets what follows.
std::string Unquote(const std::string& text, std::string& rest) {
    EXPECT_FALSE(text.empty() || text[0] != '"') << text;
    std::string value;
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            value.push_back(text[++i]);
        } else if (text[i] == '"') {
            rest = text.substr(i + 1);
            return value;
        } else {
            value.push_back(text[i]);
        }
    }
    ADD_FAILURE() << "unclosed quoted string: " << text;
    return value;
}

// From is ["display" ]<uri>;tag=...: the display name reads back as set and
// the tag is the composer's own.
void ExpectFrom(const std::string& text, const std::string& displayName, const std::string& tag) {
    std::string from = HeaderValue(text, "From");
    if (!displayName.empty()) {
        std::string rest;
        EXPECT_EQ(Unquote(from, rest), displayName);
        from = rest.substr(1);
    }
    ASSERT_FALSE(from.empty());
    EXPECT_EQ(from[0], '<') << from;
    const auto close = from.find('>');
    EXPECT_EQ(from.substr(close), ">;tag=" + tag) << from;
    EXPECT_EQ(from.find_first_of(" \"<", 1), std::string::npos) << from;
    EXPECT_EQ(TSipMessage(text).FromTag, tag);
}

// Values each field is tried with; the benign first one gives the shape every
// other message must keep.
const std::vector<std::string>& HostileValues() {
    static const std::vector<std::string> values = {
        "Maria 7",
        "x\r\nX-Injected: 1",
        "x\nVia: SIP/2.0/UDP 203.0.113.9:5060",
        std::string("nul\0led", 7),
        "quote\" <sip:evil@203.0.113.9>;tag=evil",
        "back\\slash\\",
        "\\\"",
        ">;tag=evil",
        "a b@evil.example>;lr",
        "tab\there",
        std::string(300, 'L'),
        "\xC3\x91" "and\xC3\xBA",
    };
    return values;
}

class HeaderInjection : public ::testing::Test {
protected:
    std::shared_ptr<TAccount> Account = MakeTestAccount();
    std::shared_ptr<TFakeCall> Call = MakeTestCall(Account);

    void Connect() {
        AnswerTestCall(*Call, "srvtag1", "sip:2001@198.51.100.5:5060");
    }
    void Challenge() {
        Call->AuthStatus = "407";
        Call->Realm = "telvira";
        Call->Nonce = "n0nce";
        Account->SetAuthStatus("401");
        Account->SetRealm("telvira");
        Account->SetNonce("n0nce");
    }

    // Composes with each value (or sees it refused with invalid_argument)
    // and checks the shape against the first value's message.
    void Run(const std::function<void(const std::string&)>& set,
             const std::function<std::string()>& compose,
             const std::function<void(const std::string& value, const std::string& text)>& check) {
        std::vector<std::string> shape;
        for (const std::string& value : HostileValues()) {
            SCOPED_TRACE(testing::Message() << "value \"" << value << "\"");
            try {
                set(value);
            } catch (const std::invalid_argument&) {
                EXPECT_NE(value, HostileValues().front()) << "the benign value was refused";
                continue;
            }
            const std::string text = compose();
            const std::vector<std::string> names = HeaderNamesOfWellFormed(text);
            if (shape.empty()) shape = names;
            EXPECT_EQ(names, shape) << text;
            check(value, text);
        }
    }
};

TEST_F(HeaderInjection, DisplayNameInRegisterInviteCancelAndInfo) {
    Challenge();
    int refused = 0;
    const auto set = [&](const std::string& value) {
        try {
            Account->SetDisplayName(value);
        } catch (const std::invalid_argument&) {
            ++refused;
            throw;
        }
    };
    const auto check = [&](const std::string& value, const std::string& text) {
        ExpectFrom(text, value, text.rfind("REGISTER", 0) == 0 ? "5F6E7D8C9" : "A1B2C3D4E");
    };
    Run(set, [&] { return ComposeRegister(*Account); }, check);
    Run(set, [&] { return ComposeInviteWithCredentials(*Call, "0 8"); }, check);
    Run(set, [&] { return ComposeCancel(*Call); }, check);
    Connect();
    Run(set, [&] { return ComposeInfo(*Call, '5'); }, check);
    // Control characters and the overlong name are refused, each time.
    EXPECT_EQ(refused, 4 * 5);
}

TEST_F(HeaderInjection, UserNameInRegisterFromContactAndDigest) {
    const auto set = [&](const std::string& value) { Account->SetUserName(value); };
    Account->SetDisplayName("");
    Run(set, [&] {
        Challenge();
        return ComposeRegisterWithCredentials(*Account);
    }, [&](const std::string& value, const std::string& text) {
        ExpectFrom(text, "", "5F6E7D8C9");
        const TSipMessage parsed(text);
        EXPECT_EQ(parsed.FromUri(), "sip:" + EscapeUserPart(value) + "@sip.telvira.example");
        EXPECT_EQ(parsed.Contact, "sip:" + EscapeUserPart(value) + "@192.168.1.20:5075");
        std::string rest;
        const std::string auth = ValueAfter(text, "Authorization: Digest username=");
        EXPECT_EQ(Unquote(auth, rest), value);
        EXPECT_EQ(rest.rfind(",realm=\"telvira\",nonce=\"n0nce\",", 0), 0u) << rest;
    });
}

TEST_F(HeaderInjection, DialledNumberInInvite) {
    Challenge();
    Run([&](const std::string& value) { Call->Dialog().StartOutgoing("sip:1001@sip.telvira.example", TargetUri(value, "sip.telvira.example"), 12); },
        [&] { return ComposeInviteWithCredentials(*Call, "0 8"); },
        [&](const std::string& value, const std::string& text) {
            const TSipMessage parsed(text);
            const std::string uri = TargetUri(value, "sip.telvira.example");
            EXPECT_EQ(parsed.RequestUri, uri);
            EXPECT_EQ(parsed.ToUri(), uri);
            EXPECT_EQ(HeaderValue(text, "To"), "<" + uri + ">");
            EXPECT_NE(text.find(",uri=\"" + uri + "\","), std::string::npos);
            ExpectFrom(text, "Linea 1", "A1B2C3D4E");
        });
}

TEST_F(HeaderInjection, TransferTargetInReferAndRedirect) {
    Connect();
    const auto check = [&](const std::string& value, const std::string& text) {
        const std::string uri = TargetUri(value, "sip.telvira.example");
        const std::string header = text.rfind("REFER", 0) == 0 ? "Refer-To" : "Contact";
        EXPECT_EQ(HeaderValue(text, header), "<" + uri + ">");
    };
    // A target with a host of its own must still name a real host.
    const auto set = [&](const std::string& value) { TargetUri(value, "sip.telvira.example"); };
    std::string target;
    const auto keep = [&](const std::string& value) {
        set(value);
        target = value;
    };
    Run(keep, [&] { return ComposeRefer(*Call, target); }, check);
    Call->ViaHeaders = "Via: SIP/2.0/UDP 192.0.2.10:5060;branch=z9hG4bKsrv\r\n";
    Run(keep, [&] { return ComposeRedirect(*Call, target); }, check);
}

TEST_F(HeaderInjection, MessageDestination) {
    std::string destination;
    Run([&](const std::string& value) {
            TargetUri(value, "sip.telvira.example");
            destination = value;
        },
        [&] { return ComposeMessage(*Account, destination, "Hola\r\nX-Injected: 1\r\n\r\n"); },
        [&](const std::string& value, const std::string& text) {
            const std::string uri = TargetUri(value, "sip.telvira.example");
            EXPECT_EQ(TSipMessage(text).RequestUri, uri);
            EXPECT_EQ(HeaderValue(text, "To"), "<" + uri + ">");
        });
}

}  // namespace
