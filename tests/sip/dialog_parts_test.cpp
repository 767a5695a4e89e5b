#include "sip/dialog_parts.h"

#include <gtest/gtest.h>

namespace {

TEST(ReferToUri, HeaderFormsAndWhereTheyEnd) {
    const std::pair<const char*, const char*> rows[] = {
        {"REFER sip:a@b SIP/2.0\r\nRefer-To: <sip:300@pbx.example;transport=udp>\r\n\r\n",
         "sip:300@pbx.example;transport=udp"},
        {"REFER sip:a@b SIP/2.0\r\nrefer-to:sip:300@10.0.0.1;method=INVITE\r\n\r\n", "sip:300@10.0.0.1"},
        {"REFER sip:a@b SIP/2.0\r\nr: \"Ana\" <sip:ana@10.0.0.1:5070>\r\n\r\n", "sip:ana@10.0.0.1:5070"},
        // A body line that looks like the header is not one.
        {"REFER sip:a@b SIP/2.0\r\nTo: <sip:a@b>\r\n\r\nRefer-To: <sip:x@y>\r\n", ""},
        {"", ""},
    };
    for (const auto& [text, uri] : rows) EXPECT_EQ(ReferToUri(text), uri) << text;
}

TEST(DialableTarget, UserAndHostOfTheUri) {
    EXPECT_EQ(DialableTarget("sip:300@pbx.example:5070;transport=udp"), "300@pbx.example:5070");
    EXPECT_EQ(DialableTarget("sip:transfer@127.0.0.1:15162"), "transfer@127.0.0.1:15162");
    EXPECT_EQ(DialableTarget("tel:+5491155550000"), "");
}

// A transfer's progress: any status line is taken, anything else is not.
TEST(SipfragStatus, StatusLines) {
    const std::pair<const char*, std::optional<int>> rows[] = {
        {"SIP/2.0 100 Trying\r\n", 100},     {"SIP/2.0 200 OK\r\n", 200},
        {"SIP/2.0 486 Busy Here", 486},      {"SIP/2.0 603\r\n", 603},
        {"SIP/2.0 20 OK\r\n", std::nullopt}, {"SIP/2.0 2000 OK\r\n", std::nullopt},
        {"SIP/2.0 099 x\r\n", std::nullopt}, {"INVITE sip:a@b SIP/2.0\r\n", std::nullopt},
        {"", std::nullopt}};
    for (const auto& [body, status] : rows) EXPECT_EQ(SipfragStatus(body), status) << body;
}

TEST(ReasonPhrase, KnownAndUnknownCodes) {
    EXPECT_EQ(ReasonPhrase(486), "Busy Here");
    EXPECT_EQ(ReasonPhrase(481), "Call/Transaction Does Not Exist");
    EXPECT_EQ(ReasonPhrase(299), "Unknown");
}

TEST(UriHostPort, RouteAndContactForms) {
    struct TRow {
        const char* uri;
        bool found;
        const char* host;
        int port;
    };
    const TRow rows[] = {
        {"<sip:192.0.2.10;lr>", true, "192.0.2.10", 5060},
        {"<sip:proxy.example:5070;lr;transport=udp>", true, "proxy.example", 5070},
        {"sip:bob@10.0.0.1", true, "10.0.0.1", 5060},
        {"sip:bob@10.0.0.1:5080;transport=udp", true, "10.0.0.1", 5080},
        {"sip:bob@10.0.0.1:0", false, "", 0},
        {"<sips:proxy.example;lr>", true, "proxy.example", 5061},
        {"SIPS:bob@10.0.0.1:5063", true, "10.0.0.1", 5063},
        {"tel:+123", false, "", 0},
        {"", false, "", 0},
    };
    for (const TRow& row : rows) {
        const auto target = UriHostPort(row.uri);
        ASSERT_EQ(target.has_value(), row.found) << row.uri;
        if (!target) continue;
        EXPECT_EQ(target->host, row.host) << row.uri;
        EXPECT_EQ(target->port, row.port) << row.uri;
    }
}

}  // namespace
