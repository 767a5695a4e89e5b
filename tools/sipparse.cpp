// Prints the fields the agent reads from one SIP message, given as a file or
// on standard input ("-"). Useful to see how a server's message is understood.
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "sip/message.h"

namespace {

std::string ReadAll(std::istream& in) {
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Control characters are shown escaped so CR LF inside fields stay visible.
std::string Printable(const std::string& text) {
    std::ostringstream out;
    for (const unsigned char c : text) {
        if (c == '\r') out << "\\r";
        else if (c == '\n') out << "\\n";
        else if (c < 0x20 || c >= 0x7F) out << "\\x" << std::hex << static_cast<int>(c) << std::dec;
        else out << c;
    }
    return out.str();
}

void Print(const TSipMessage& m) {
    const std::string fromUri(m.FromUri()), fromHost(m.FromHost()), fromHostPort(m.FromHostPort());
    const std::string toUri(m.ToUri()), toHost(m.ToHost()), toHostPort(m.ToHostPort());
    const std::pair<const char*, const std::string*> fields[] = {
        {"StatusCode", &m.StatusCode},     {"RequestUri", &m.RequestUri},
        {"RequestUser", &m.RequestUser},   {"CSeqNumber", &m.CSeqNumber},
        {"CSeqMethod", &m.CSeqMethod},     {"CallId", &m.CallId},
        {"FromHeader", &m.FromHeader},     {"FromUri", &fromUri},
        {"FromUser", &m.FromUser},         {"FromHost", &fromHost},
        {"FromHostPort", &fromHostPort},   {"FromTag", &m.FromTag},
        {"ToHeader", &m.ToHeader},         {"ToUri", &toUri},
        {"ToUser", &m.ToUser},             {"ToHost", &toHost},
        {"ToHostPort", &toHostPort},       {"ToTag", &m.ToTag},
        {"ViaHeaders", &m.ViaHeaders},     {"ViaHost", &m.ViaHost},
        {"ViaPort", &m.ViaPort},           {"ViaRport", &m.ViaRport},
        {"Contact", &m.Contact},           {"ContactHost", &m.ContactHost},
        {"ContactPort", &m.ContactPort},   {"RecordRouteHeaders", &m.RecordRouteHeaders},
        {"Realm", &m.Realm},               {"Nonce", &m.Nonce},
        {"Opaque", &m.Opaque},             {"Qop", &m.Qop},
        {"SdpAddress", &m.SdpAddress},     {"SdpAudioPort", &m.SdpAudioPort},
        {"DtmfSignal", &m.DtmfSignal},     {"Body", &m.Body},
    };
    for (const auto& [name, value] : fields) {
        if (!value->empty()) std::cout << name << ": " << Printable(*value) << "\n";
    }
    std::cout << "PayloadTypes:";
    for (int i = 0; i < m.PayloadCount(); ++i) std::cout << " " << m.PayloadAt(i);
    std::cout << "\n";
    for (int i = 0; i < m.RecordRouteCount(); ++i) {
        std::cout << "RecordRoute[" << i << "]: " << m.RecordRouteAt(i) << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "-";
    std::string text;
    if (path == "-") {
        text = ReadAll(std::cin);
    } else {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            std::cerr << "sipparse: cannot open " << path << "\n";
            return 1;
        }
        text = ReadAll(file);
    }
    Print(TSipMessage(std::move(text)));
    return 0;
}
