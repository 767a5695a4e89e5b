#include "sip/registration_expiry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kOurs = "sip:alice@10.0.0.5:5075";

std::string Ok(const std::string& headers) { return "SIP/2.0 200 OK\r\nCSeq: 2 REGISTER\r\n" + headers + "\r\n"; }

TEST(GrantedExpiry, OurContactFirstThenSingleContactThenHeaderThenAsked) {
    struct Case {
        std::string headers;
        int expected;
    };
    const Case cases[] = {
        {"Contact: <sip:alice@10.0.0.5:5075>;expires=30\r\nExpires: 3600\r\n", 30},
        // Another device's binding first, ours later in the same line.
        {"Contact: <sip:alice@10.0.0.9:5060>;expires=900, <sip:alice@10.0.0.5:5075>;q=1;expires=45\r\n", 45},
        // Ours on a line of its own, compact form.
        {"Contact: <sip:alice@10.0.0.9:5060>;expires=900\r\nm: <sip:alice@10.0.0.5:5075>;expires=120\r\n", 120},
        // A registrar that rewrote our address: its only Contact is ours.
        {"Contact: <sip:alice@192.0.2.1:40000>;expires=60\r\n", 60},
        {"Contact: <sip:alice@10.0.0.9:5060>;expires=900, <sip:x@10.0.0.8>;expires=800\r\nExpires: 300\r\n", 300},
        {"", 3600},
        {"Expires: soon\r\n", 3600},
    };
    for (const Case& c : cases) EXPECT_EQ(GrantedExpiry(Ok(c.headers), kOurs, 3600), c.expected) << c.headers;
}

TEST(GrantedExpiry, RefreshAtHalfNeverBeyondTenMinutes) {
    const std::pair<int, int> cases[] = {{30, 15}, {60, 30}, {1, 1}, {0, 1}, {1200, 600}, {3600, 600}};
    for (const auto& [granted, refresh] : cases) EXPECT_EQ(RefreshAfterSeconds(granted), refresh) << granted;
}

TEST(StatusLineText, CodeAndReasonOfResponsesOnly) {
    EXPECT_EQ(StatusLineText("SIP/2.0 403 Forbidden\r\nVia: x\r\n"), "403 Forbidden");
    EXPECT_EQ(StatusLineText("REGISTER sip:a SIP/2.0\r\n"), "");
}

}  // namespace
