// Parse throughput of TSipMessage on three real messages, side by side with
// two established SIP parsers on the same bytes.
#include <benchmark/benchmark.h>

#include <string>

#include "sip/message.h"

#ifdef HAVE_OSIP2
#include <osipparser2/osip_parser.h>
#endif
#ifdef HAVE_SOFIA
#include <sofia-sip/msg.h>
#include <sofia-sip/sip_header.h>
#endif

namespace {

// An INVITE through a record-routing proxy: credentials, two Via, two
// Record-Route lines and an SDP offer; 960 bytes.
std::string InviteWithSdp() {
    std::string sdp =
        "v=0\r\n"
        "o=SIPClient 1724 1724 IN IP4 192.168.1.20\r\n"
        "s=SIPClient\r\n"
        "c=IN IP4 192.168.1.20\r\n"
        "t=0 0\r\n"
        "m=audio 22000 RTP/AVP 0 8 3 110 101\r\n"
        "a=fmtp:101 0-15\r\n"
        "a=sendrecv\r\n";
    std::string text =
        "INVITE sip:5491123456789@sip1.telvira.example SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 10.0.0.1:5060;branch=z9hG4bKproxy1a2b3c;rport=5060\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;received=200.1.2.3;branch=z9hG4bK1A2B3C4D5E;rport=5075\r\n"
        "Record-Route: <sip:10.0.0.1;lr;ftag=3F2504E04>\r\n"
        "Record-Route: <sip:10.0.0.2;lr;ftag=3F2504E04>\r\n"
        "From: \"Linea 1\" <sip:4711@sip1.telvira.example>;tag=3F2504E04\r\n"
        "To: <sip:5491123456789@sip1.telvira.example>\r\n"
        "Call-ID: 3F2504E04F8911D39A0C0305E82C3301\r\n"
        "CSeq: 2 INVITE\r\n"
        "Contact: <sip:4711@192.168.1.20:5075>\r\n"
        "Authorization: Digest username=\"4711\",realm=\"sip1.telvira.example\","
        "nonce=\"5f1a2b3c4d5e6f708192a3b4c5d6e7f8\",uri=\"sip:5491123456789@sip1.telvira.example\","
        "response=\"0123456789abcdef0123456789abcdef\",algorithm=MD5\r\n"
        "Max-Forwards: 69\r\n"
        "Content-Type: application/sdp\r\n"
        "Content-Length: " +
        std::to_string(sdp.size()) + "\r\n\r\n";
    text += sdp;
    return text;
}

std::string Challenge401() {
    return "SIP/2.0 401 Unauthorized\r\n"
           "Via: SIP/2.0/UDP 192.168.1.20:5075;branch=z9hG4bK9F8E7D6C5B;rport=5075;received=200.1.2.3\r\n"
           "From: <sip:4711@sip1.telvira.example>;tag=A1B2C3D4E\r\n"
           "To: <sip:4711@sip1.telvira.example>;tag=b27e1a1d33761e85846fc98f5f3a7e58.2a3b\r\n"
           "Call-ID: 9C0A7B2E5D4F11D3A1B20305E82C3301\r\n"
           "CSeq: 1 REGISTER\r\n"
           "WWW-Authenticate: Digest realm=\"sip1.telvira.example\", "
           "nonce=\"Y2FmZWJhYmUxMjM0NTY3ODlhYmNkZWYwMTIzNDU2Nzg=\", qop=\"auth\"\r\n"
           "Server: kamailio (5.6.3 (x86_64/linux))\r\n"
           "Content-Length: 0\r\n\r\n";
}

std::string RegisterOk() {
    return "SIP/2.0 200 OK\r\n"
           "Via: SIP/2.0/UDP 192.168.1.20:5075;branch=z9hG4bK0A1B2C3D4E;rport=5075;received=200.1.2.3\r\n"
           "From: <sip:4711@sip1.telvira.example>;tag=A1B2C3D4E\r\n"
           "To: <sip:4711@sip1.telvira.example>;tag=b27e1a1d33761e85846fc98f5f3a7e58.8c1f\r\n"
           "Call-ID: 9C0A7B2E5D4F11D3A1B20305E82C3301\r\n"
           "CSeq: 2 REGISTER\r\n"
           "Contact: <sip:4711@200.1.2.3:5075>;expires=3000\r\n"
           "Server: kamailio (5.6.3 (x86_64/linux))\r\n"
           "Content-Length: 0\r\n\r\n";
}

const std::string& Message(int which) {
    static const std::string messages[] = {InviteWithSdp(), Challenge401(), RegisterOk()};
    return messages[which];
}

void Label(benchmark::State& state, int which) {
    static const char* names[] = {"INVITE+SDP", "401", "200 REGISTER"};
    state.SetLabel(std::string(names[which]) + " " + std::to_string(Message(which).size()) + " B");
    state.SetItemsProcessed(state.iterations());
}

void BM_TSipMessage(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const std::string& text = Message(which);
    for (auto _ : state) {
        TSipMessage message(text);
        benchmark::DoNotOptimize(message.CSeqMethod.data());
    }
    Label(state, which);
}
BENCHMARK(BM_TSipMessage)->DenseRange(0, 2);

#ifdef HAVE_OSIP2
void BM_Osip2(benchmark::State& state) {
    static const bool initialised = (parser_init(), true);
    (void)initialised;
    const int which = static_cast<int>(state.range(0));
    const std::string& text = Message(which);
    for (auto _ : state) {
        osip_message_t* message = nullptr;
        osip_message_init(&message);
        if (osip_message_parse(message, text.data(), text.size()) != 0) state.SkipWithError("osip parse failed");
        benchmark::DoNotOptimize(message);
        osip_message_free(message);
    }
    Label(state, which);
}
BENCHMARK(BM_Osip2)->DenseRange(0, 2);
#endif

#ifdef HAVE_SOFIA
void BM_Sofia(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const std::string& text = Message(which);
    msg_mclass_t const* mclass = sip_default_mclass();
    for (auto _ : state) {
        msg_t* message = msg_make(mclass, 0, text.data(), static_cast<ssize_t>(text.size()));
        if (message == nullptr) state.SkipWithError("sofia parse failed");
        benchmark::DoNotOptimize(message);
        msg_destroy(message);
    }
    Label(state, which);
}
BENCHMARK(BM_Sofia)->DenseRange(0, 2);
#endif

}  // namespace

BENCHMARK_MAIN();
