#include "sip/via.h"

#include "sip/via_destination_memo.h"

#include <gtest/gtest.h>

namespace {

// Responses go back to whoever sent the request: a caller behind NAT or a
// node other than the registrar is reached at the address the datagram came
// from, never at the account's server.
TEST(ResponseDestination, TopViaTable) {
    struct TRow {
        const char* via;
        const char* host;
        int port;
    };
    const TRow rows[] = {
        {"Via: SIP/2.0/UDP 10.0.0.5:5070;branch=z9hG4bK1\r\n", "10.0.0.5", 5070},
        {"Via: SIP/2.0/UDP 10.0.0.5;branch=z9hG4bK1\r\n", "10.0.0.5", 5060},
        {"Via: SIP/2.0/UDP 10.0.0.5:5070;rport=6000;received=198.51.100.9;branch=b\r\n", "198.51.100.9", 6000},
        {"Via: SIP/2.0/UDP 10.0.0.5:5070;received=198.51.100.9\r\n", "198.51.100.9", 5070},
        {"Via: SIP/2.0/UDP 10.0.0.5:5070;rport;branch=b\r\n", "10.0.0.5", 5070},
        {"v: SIP/2.0/UDP host.example:5080 ; RPORT=5090 ; Received=192.0.2.1\r\n", "192.0.2.1", 5090},
        // The top value only: a second value on the line or a later line is
        // a proxy further back.
        {"Via: SIP/2.0/UDP 10.0.0.1:5062;branch=a, SIP/2.0/UDP 10.0.0.2:5063;rport=9\r\n", "10.0.0.1", 5062},
        {"Via: SIP/2.0/UDP 10.0.0.1:5062\r\nVia: SIP/2.0/UDP 10.0.0.2:5063;rport=9;received=10.9.9.9\r\n",
         "10.0.0.1", 5062},
        {"Via: SIP/2.0/UDP 10.0.0.1:99999;rport=0\r\n", "10.0.0.1", 5060},
        {"", "", 5060},
    };
    for (const TRow& row : rows) {
        const TResponseDestination destination = ResponseDestination(row.via);
        EXPECT_EQ(destination.host, row.host) << row.via;
        EXPECT_EQ(destination.port, row.port) << row.via;
    }
}

TEST(StampTopVia, ReceivingSideMarks) {
    struct TRow {
        const char* via;
        const char* stamped;
    };
    const TRow rows[] = {
        // Sent from where it says: nothing to add.
        {"Via: SIP/2.0/UDP 127.0.0.1:5070;branch=b\r\n", "Via: SIP/2.0/UDP 127.0.0.1:5070;branch=b\r\n"},
        // From another address (NAT, or a name in sent-by): received.
        {"Via: SIP/2.0/UDP 10.0.0.5:5070;branch=b\r\n",
         "Via: SIP/2.0/UDP 10.0.0.5:5070;branch=b;received=127.0.0.1\r\n"},
        {"Via: SIP/2.0/UDP pbx.example;branch=b\r\n",
         "Via: SIP/2.0/UDP pbx.example;branch=b;received=127.0.0.1\r\n"},
        // rport asked: the source port, and received always.
        {"Via: SIP/2.0/UDP 10.0.0.5:5070;rport;branch=b\r\nVia: SIP/2.0/UDP 10.0.0.6;rport\r\n",
         "Via: SIP/2.0/UDP 10.0.0.5:5070;rport=40000;branch=b;received=127.0.0.1\r\n"
         "Via: SIP/2.0/UDP 10.0.0.6;rport\r\n"},
        {"Via: SIP/2.0/UDP 127.0.0.1:5070;branch=b;rport, SIP/2.0/UDP 10.0.0.6\r\n",
         "Via: SIP/2.0/UDP 127.0.0.1:5070;branch=b;rport=40000;received=127.0.0.1, SIP/2.0/UDP 10.0.0.6\r\n"},
        // Marks the sender wrote itself would aim our responses at a third
        // party: replaced by the datagram's source, or dropped when the
        // sent-by is the source already.
        {"Via: SIP/2.0/UDP 10.0.0.5;rport=7;received=10.1.1.1\r\n",
         "Via: SIP/2.0/UDP 10.0.0.5;rport=40000;received=127.0.0.1\r\n"},
        {"Via: SIP/2.0/UDP 10.0.0.5;received=10.1.1.1;branch=b;rport=7\r\n",
         "Via: SIP/2.0/UDP 10.0.0.5;received=127.0.0.1;branch=b;rport=40000\r\n"},
        {"Via: SIP/2.0/UDP 127.0.0.1:5070;received=192.0.2.66;branch=b\r\n",
         "Via: SIP/2.0/UDP 127.0.0.1:5070;branch=b\r\n"},
        {"garbage", "garbage"},
    };
    for (const TRow& row : rows) {
        const std::string stamped = StampTopVia(row.via, "127.0.0.1", 40000);
        EXPECT_EQ(stamped, row.stamped) << row.via;
    }
    const TResponseDestination destination =
        ResponseDestination(StampTopVia("Via: SIP/2.0/UDP 10.0.0.5:5070;rport\r\n", "127.0.0.1", 40000));
    EXPECT_EQ(destination.host, "127.0.0.1");
    EXPECT_EQ(destination.port, 40000);
}

// Over a connection the answer goes back on it, whether rport was asked or
// not: its far port is written in, the sender's own marks replaced.
TEST(StampTopVia, ConnectionSourceAlwaysMarked) {
    struct TRow {
        const char* via;
        const char* stamped;
    };
    const TRow rows[] = {
        {"Via: SIP/2.0/TCP 127.0.0.1:5060;branch=b\r\n",
         "Via: SIP/2.0/TCP 127.0.0.1:5060;branch=b;received=127.0.0.1;rport=40000\r\n"},
        {"Via: SIP/2.0/TLS 127.0.0.1;rport;branch=b\r\n",
         "Via: SIP/2.0/TLS 127.0.0.1;rport=40000;branch=b;received=127.0.0.1\r\n"},
        {"Via: SIP/2.0/TCP 10.0.0.5;rport=7;received=10.1.1.1\r\n",
         "Via: SIP/2.0/TCP 10.0.0.5;rport=40000;received=127.0.0.1\r\n"},
    };
    for (const TRow& row : rows) {
        EXPECT_EQ(StampTopVia(row.via, "127.0.0.1", 40000, true), row.stamped) << row.via;
    }
}

// The destination worked out while stamping must be the one the stamped text
// itself names, for every shape of top Via and source: answers follow it
// without the text being read again.
TEST(StampTopViaRouted, DestinationIsWhatTheStampedTextNames) {
    struct TRow {
        const char* via;
        const char* source;
        uint16_t port;
        bool connection;
        const char* host;
        int expectedPort;
    };
    const TRow rows[] = {
        {"Via: SIP/2.0/UDP 127.0.0.1:5070;branch=b\r\n", "127.0.0.1", 40000, false, "127.0.0.1", 5070},
        {"Via: SIP/2.0/UDP 10.0.0.5:5070;branch=b\r\n", "127.0.0.1", 40000, false, "127.0.0.1", 5070},
        {"Via: SIP/2.0/UDP pbx.example;branch=b\r\n", "127.0.0.1", 40000, false, "127.0.0.1", 5060},
        {"Via: SIP/2.0/UDP 10.0.0.5:5070;rport;branch=b\r\n", "127.0.0.1", 40000, false, "127.0.0.1", 40000},
        {"v: SIP/2.0/UDP host.example:5080 ; RPORT=5090 ; Received=192.0.2.1\r\n", "127.0.0.1", 40000, false,
         "127.0.0.1", 40000},
        // What the sender wrote in its own marks aims nowhere.
        {"Via: SIP/2.0/UDP 127.0.0.1:5070;received=192.0.2.66;rport=7\r\n", "127.0.0.1", 40000, false,
         "127.0.0.1", 40000},
        {"Via: SIP/2.0/UDP 127.0.0.1:5070;received=192.0.2.66\r\n", "127.0.0.1", 40000, false, "127.0.0.1",
         5070},
        {"Via: SIP/2.0/UDP 127.0.0.1:99999;branch=b\r\n", "127.0.0.1", 40000, false, "127.0.0.1", 5060},
        // A source port of 0 written in rport reads as none: the sent-by port.
        {"Via: SIP/2.0/UDP 10.0.0.5:5070;rport\r\n", "127.0.0.1", 0, false, "127.0.0.1", 5070},
        {"Via: SIP/2.0/TCP 127.0.0.1:5060;branch=b\r\n", "127.0.0.1", 40000, true, "127.0.0.1", 40000},
        {"Via: SIP/2.0/TCP 127.0.0.1:5060;branch=b\r\n", "127.0.0.1", 0, true, "127.0.0.1", 5060},
        {"Via: SIP/2.0/UDP 10.0.0.1:5062;rport, SIP/2.0/UDP 10.0.0.2:5063\r\n", "192.0.2.7", 6000, false,
         "192.0.2.7", 6000},
        // Nothing to stamp: the text as it came, read as ever.
        {"Via: SIP/2.0/UDP 10.0.0.5:5070;rport=6000;received=198.51.100.9\r\n", "", 40000, false,
         "198.51.100.9", 6000},
        {"garbage", "127.0.0.1", 40000, false, "", 5060},
    };
    for (const TRow& row : rows) {
        const TStampedVia stamped = StampTopViaRouted(row.via, row.source, row.port, row.connection);
        EXPECT_EQ(stamped.headers, StampTopVia(row.via, row.source, row.port, row.connection)) << row.via;
        const TResponseDestination named = ResponseDestination(stamped.headers);
        EXPECT_EQ(stamped.destination.host, named.host) << row.via;
        EXPECT_EQ(stamped.destination.port, named.port) << row.via;
        EXPECT_EQ(stamped.destination.host, row.host) << row.via;
        EXPECT_EQ(stamped.destination.port, row.expectedPort) << row.via;
    }
}

// Only the text last stamped is answered from memory: a call's Via from an
// earlier request, or one that differs by a single byte, is read afresh.
TEST(ViaDestinationMemo, AnswersOnlyForTheTextRemembered) {
    TViaDestinationMemo memo;
    const std::string earlier = "Via: SIP/2.0/UDP 10.0.0.5:5070;rport=5999;received=192.0.2.1\r\n";
    EXPECT_EQ(memo.DestinationOf(earlier).host, "192.0.2.1");
    EXPECT_EQ(memo.DestinationOf("").port, 5060);

    const TStampedVia stamped =
        StampTopViaRouted("Via: SIP/2.0/UDP 10.0.0.5:5070;rport\r\n", "192.0.2.9", 7000);
    memo.Remember(stamped);
    struct TRow {
        std::string via;
        const char* host;
        int port;
    };
    std::string oneByteOff = stamped.headers;
    oneByteOff[oneByteOff.find("7000")] = '8';
    const TRow rows[] = {
        {stamped.headers, "192.0.2.9", 7000},
        {earlier, "192.0.2.1", 5999},
        {oneByteOff, "192.0.2.9", 8000},
        {stamped.headers.substr(0, stamped.headers.size() - 2), "192.0.2.9", 7000},
        {"", "", 5060},
    };
    for (const TRow& row : rows) {
        const TResponseDestination destination = memo.DestinationOf(row.via);
        EXPECT_EQ(destination.host, row.host) << row.via;
        EXPECT_EQ(destination.port, row.port) << row.via;
    }
}

}  // namespace
