#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sip/signalling_transport.h"
#include "sip/stream_framer.h"

namespace {

const std::string kOptions =
    "OPTIONS sip:a@b SIP/2.0\r\nVia: SIP/2.0/TCP 1.2.3.4;branch=z9hG4bK1\r\nContent-Length: 0\r\n\r\n";
const std::string kMessage =
    "MESSAGE sip:a@b SIP/2.0\r\nl: 5\r\nContent-Type: text/plain\r\n\r\nhello";
const std::string kOk = "SIP/2.0 200 OK\r\ncontent-length:   3 \r\n\r\nabc";

struct TFramingCase {
    const char* name;
    std::vector<std::string> reads;
    std::vector<std::string> messages;
    int pings = 0;
    int pongs = 0;
    bool broken = false;
    std::size_t pending = 0;
};

// Every message cut in two at each byte, so no split point is special.
std::vector<TFramingCase> SplitEverywhere() {
    std::vector<TFramingCase> cases;
    const std::string two = kMessage + kOk;
    for (std::size_t cut = 1; cut < two.size(); ++cut) {
        cases.push_back({"split", {two.substr(0, cut), two.substr(cut)}, {kMessage, kOk}});
    }
    return cases;
}

const std::vector<TFramingCase>& Cases() {
    static const std::vector<TFramingCase> cases = [] {
        std::vector<TFramingCase> list = {
            {"one message in one read", {kOptions}, {kOptions}},
            {"one message byte by byte", {}, {kOptions}},
            {"two messages in one read", {kOptions + kMessage}, {kOptions, kMessage}},
            {"compact l and spaced value", {kMessage + kOk}, {kMessage, kOk}},
            // The bytes past the announced length are the next message's
            // start; here they start none, so the stream is given up.
            {"body longer than announced", {kMessage + "world\r\n"}, {kMessage}, 0, 0, true},
            {"body longer, then a message", {kMessage + kOk}, {kMessage, kOk}},
            {"dropped mid-head", {kOptions.substr(0, 30)}, {}, 0, 0, false, 30},
            {"dropped mid-body", {kMessage.substr(0, kMessage.size() - 2)}, {}, 0, 0, false,
             kMessage.size() - 2},
            {"keep-alive ping between messages", {kOptions + "\r\n\r\n" + kOk}, {kOptions, kOk}, 1},
            {"ping split over reads", {"\r\n", "\r", "\n"}, {}, 1},
            {"pong before a message", {"\r\n" + kOk}, {kOk}, 0, 1},
            {"lone pong", {"\r\n", kOk}, {kOk}, 0, 1},
            {"two pings", {"\r\n\r\n\r\n\r\n"}, {}, 2},
            {"no Content-Length", {"SIP/2.0 200 OK\r\nCSeq: 1 BYE\r\n\r\n"}, {}, 0, 0, true},
            {"Content-Length not a number", {"SIP/2.0 200 OK\r\nContent-Length: 1x\r\n\r\n"}, {}, 0, 0, true},
            {"body over the cap", {"SIP/2.0 200 OK\r\nContent-Length: 70000\r\n\r\n"}, {}, 0, 0, true},
            {"head over the cap, no end yet", {"SIP/2.0 200 OK\r\nX: " + std::string(17000, 'a')}, {}, 0, 0, true},
            {"garbage instead of a message", {"GET / HTTP/1.1\r\nHost: x\r\n\r\n"}, {}, 0, 0, true},
            {"stray bytes after CR LF", {"\r\n\r\n\rxyz"}, {}, 1, 0, true},
        };
        for (const char c : kOptions) list[1].reads.emplace_back(1, c);
        for (auto& split : SplitEverywhere()) list.push_back(std::move(split));
        return list;
    }();
    return cases;
}

TEST(SipStreamFramerTest, FramesEveryCase) {
    for (const TFramingCase& item : Cases()) {
        SCOPED_TRACE(item.name);
        TSipStreamFramer framer;
        std::vector<std::string> messages;
        int pings = 0;
        int pongs = 0;
        for (const std::string& read : item.reads) {
            TFramedInput out = framer.Feed(read);
            messages.insert(messages.end(), out.messages.begin(), out.messages.end());
            pings += out.pings;
            pongs += out.pongs;
        }
        EXPECT_EQ(messages, item.messages);
        EXPECT_EQ(pings, item.pings);
        EXPECT_EQ(pongs, item.pongs);
        EXPECT_EQ(framer.Broken(), item.broken) << framer.Error();
        if (!item.broken) {
            EXPECT_EQ(framer.Pending(), item.pending);
        }
    }
}

TEST(SipStreamFramerTest, BrokenStreamFramesNothingMore) {
    TSipStreamFramer framer;
    framer.Feed("SIP/2.0 200 OK\r\nContent-Length: -1\r\n\r\n");
    ASSERT_TRUE(framer.Broken());
    EXPECT_TRUE(framer.Feed(kOptions).messages.empty());
}

struct TTransportCase {
    const char* text;
    TSignallingTransport transport;
};

TEST(SignallingTransportTest, TopViaTransportOfMessages) {
    const TTransportCase cases[] = {
        {"INVITE sip:a@b SIP/2.0\r\nVia: SIP/2.0/TCP h;branch=1\r\nVia: SIP/2.0/UDP x\r\n\r\n",
         TSignallingTransport::kTcp},
        {"SIP/2.0 200 OK\r\nv: SIP/2.0/tls h:5061\r\n\r\n", TSignallingTransport::kTls},
        {"SIP/2.0 200 OK\r\nVia:SIP/2.0/UDP h\r\nVia: SIP/2.0/TLS x\r\n\r\n", TSignallingTransport::kUdp},
        // A Via inside the body is no header.
        {"MESSAGE sip:a@b SIP/2.0\r\nl: 24\r\n\r\nVia: SIP/2.0/TCP h\r\n\r\n", TSignallingTransport::kUdp},
        {"\r\n\r\n", TSignallingTransport::kUdp},
    };
    for (const TTransportCase& item : cases) {
        EXPECT_EQ(TopViaTransport(item.text), item.transport) << item.text;
    }
}

// Only the top Via's sent-protocol changes: the next Via, a Via in the body
// and the rest of the line stay as they were.
TEST(SignallingTransportTest, TopViaTransportRewritten) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"MESSAGE sip:a@b SIP/2.0\r\nVia: SIP/2.0/UDP h:5070;rport;branch=z9\r\nVia: SIP/2.0/UDP x\r\n\r\n",
         "MESSAGE sip:a@b SIP/2.0\r\nVia: SIP/2.0/TCP h:5070;rport;branch=z9\r\nVia: SIP/2.0/UDP x\r\n\r\n"},
        {"CANCEL sip:a@b SIP/2.0\r\nv:SIP/2.0/udp h\r\n\r\n", "CANCEL sip:a@b SIP/2.0\r\nv:SIP/2.0/TCP h\r\n\r\n"},
        {"MESSAGE sip:a@b SIP/2.0\r\nl: 24\r\n\r\nVia: SIP/2.0/UDP h\r\n\r\n",
         "MESSAGE sip:a@b SIP/2.0\r\nl: 24\r\n\r\nVia: SIP/2.0/UDP h\r\n\r\n"},
    };
    for (const auto& item : cases) {
        EXPECT_EQ(WithTopViaTransport(item.text, TSignallingTransport::kTcp), item.expected) << item.text;
    }
}

TEST(SignallingTransportTest, SipsRequestUriFound) {
    const struct {
        const char* text;
        bool sips;
    } cases[] = {
        {"INVITE sips:bob@example.com SIP/2.0\r\n\r\n", true},
        {"BYE SIPS:bob@10.0.0.1:5061;transport=tls SIP/2.0\r\n\r\n", true},
        {"INVITE sip:bob@example.com SIP/2.0\r\nContact: <sips:a@b>\r\n\r\n", false},
        {"SIP/2.0 200 OK\r\nTo: <sips:bob@example.com>\r\n\r\n", false},
        {"\r\n\r\n", false},
    };
    for (const auto& item : cases) EXPECT_EQ(RequestUriIsSips(item.text), item.sips) << item.text;
    EXPECT_TRUE(IsSipsUri("\"Bob\" <sips:bob@example.com>"));
    EXPECT_FALSE(IsSipsUri("<sip:sips@example.com>"));
}

TEST(SignallingTransportTest, SettingNamesRoundTripAndUnknownRaises) {
    for (const char* name : {"udp", "tcp", "tls"}) {
        EXPECT_EQ(SignallingTransportName(ParseSignallingTransport(name)), name);
    }
    EXPECT_EQ(ParseSignallingTransport("TLS"), TSignallingTransport::kTls);
    EXPECT_THROW(ParseSignallingTransport("sctp"), std::invalid_argument);
    EXPECT_EQ(DefaultServerPort(TSignallingTransport::kTls), 5061);
    EXPECT_EQ(DefaultServerPort(TSignallingTransport::kTcp), 5060);
}

}  // namespace
