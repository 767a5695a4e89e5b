#include "tools/softphone_cli/cli_options.h"

#include <charconv>
#include <functional>
#include <map>
#include <stdexcept>

#include "media/codec_names.h"
#include "sip/header_values.h"

const char* const kCliUsage =
    "usage: softphone-cli [--local-port N] [--server HOST[:PORT]] [--user U] [--password P]\n"
    "                     [--proxy HOST] [--stun HOST] [--display-name NAME] [--expires SECONDS]\n"
    "                     [--dtmf inband|rfc2833|info] [--mic DEVICE] [--speaker DEVICE]\n"
    "                     [--rtp-ports MIN-MAX] [--auto-answer] [--busy-after SECONDS] [--log]\n"
    "                     [--max-sound SECONDS] [--accept-transfers] [--calls-from-server-only]\n"
    "                     [--media-timeout SECONDS] [--transport udp|tcp|tls] [--tls-ca FILE]\n"
    "                     [--tls-cert FILE --tls-key FILE] [--codecs LIST]\n"
    "  --tls-cert, --tls-key  our certificate and key: TLS is taken from peers\n"
    "  --codecs LIST  codecs in order of preference, e.g. opus,g729,pcmu\n"
    "                 (known: opus, g729, pcmu, pcma, gsm, speex)\n";

int ParseBoundedInt(const std::string& text, int min, int max, const std::string& what) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < min || value > max)
        throw std::invalid_argument("bad " + what + ": \"" + text + "\" (expected " +
                                    std::to_string(min) + " to " + std::to_string(max) + ")");
    return value;
}

namespace {

TDtmfMethod ParseDtmf(const std::string& text) {
    if (text == "inband") return dtmfInBand;
    if (text == "rfc2833") return dtmfRFC2833;
    if (text == "info") return dtmfSipInfo;
    throw std::invalid_argument("bad --dtmf: \"" + text + "\" (expected inband, rfc2833 or info)");
}

std::vector<int> ParseCodecs(const std::string& text) {
    try {
        return media::ParseCodecList(text);
    } catch (const std::invalid_argument& error) {
        throw std::invalid_argument(std::string("bad --codecs: ") + error.what());
    }
}

void ParseRtpPorts(const std::string& text, TCliOptions& options) {
    const auto dash = text.find('-');
    if (dash == std::string::npos)
        throw std::invalid_argument("bad --rtp-ports: \"" + text + "\" (expected MIN-MAX)");
    options.rtpPortMin = ParseBoundedInt(text.substr(0, dash), 1, 65535, "--rtp-ports minimum");
    options.rtpPortMax = ParseBoundedInt(text.substr(dash + 1), 1, 65535, "--rtp-ports maximum");
    if (options.rtpPortMin > options.rtpPortMax)
        throw std::invalid_argument("bad --rtp-ports: minimum above maximum");
}

// Values that reach header lines: a control character in one would end a
// line or a quoted string on the wire, so it is refused as typed.
std::string HeaderValue(const std::string& option, const std::string& value) {
    try {
        sip_header::RequireNoControl(value, option);
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument("bad " + option + ": control characters are not allowed");
    }
    return value;
}

std::string DisplayName(const std::string& value) {
    HeaderValue("--display-name", value);
    if (value.size() > sip_header::kMaxDisplayNameLength)
        throw std::invalid_argument("bad --display-name: longer than " +
                                    std::to_string(sip_header::kMaxDisplayNameLength) + " bytes");
    return value;
}

using TSetter = std::function<void(TCliOptions&, const std::string&)>;

const std::map<std::string, TSetter>& ValueOptions() {
    static const std::map<std::string, TSetter> table = {
        {"--local-port", [](TCliOptions& o, const std::string& v) {
             o.localPort = ParseBoundedInt(v, 0, 65535, "--local-port");
         }},
        {"--server", [](TCliOptions& o, const std::string& v) { o.server = HeaderValue("--server", v); }},
        {"--user", [](TCliOptions& o, const std::string& v) { o.user = HeaderValue("--user", v); }},
        {"--password", [](TCliOptions& o, const std::string& v) { o.password = v; }},
        {"--proxy", [](TCliOptions& o, const std::string& v) { o.proxy = HeaderValue("--proxy", v); }},
        {"--stun", [](TCliOptions& o, const std::string& v) { o.stun = HeaderValue("--stun", v); }},
        {"--transport", [](TCliOptions& o, const std::string& v) {
             try {
                 o.transport = ParseSignallingTransport(v);
             } catch (const std::invalid_argument&) {
                 throw std::invalid_argument("bad --transport: \"" + v + "\" (expected udp, tcp or tls)");
             }
         }},
        {"--tls-ca", [](TCliOptions& o, const std::string& v) { o.tlsCaFile = v; }},
        {"--tls-cert", [](TCliOptions& o, const std::string& v) { o.tlsCertificateFile = v; }},
        {"--tls-key", [](TCliOptions& o, const std::string& v) { o.tlsKeyFile = v; }},
        {"--display-name", [](TCliOptions& o, const std::string& v) { o.displayName = DisplayName(v); }},
        {"--expires", [](TCliOptions& o, const std::string& v) {
             o.expires = ParseBoundedInt(v, 1, 86400 * 7, "--expires");
         }},
        {"--dtmf", [](TCliOptions& o, const std::string& v) { o.dtmf = ParseDtmf(v); }},
        {"--mic", [](TCliOptions& o, const std::string& v) { o.mic = v; }},
        {"--speaker", [](TCliOptions& o, const std::string& v) { o.speaker = v; }},
        {"--rtp-ports", [](TCliOptions& o, const std::string& v) { ParseRtpPorts(v, o); }},
        {"--busy-after", [](TCliOptions& o, const std::string& v) {
             o.busyAfterSeconds = ParseBoundedInt(v, 1, 600, "--busy-after");
         }},
        {"--max-sound",
         [](TCliOptions& o, const std::string& v) {
             o.maxSoundSeconds = ParseBoundedInt(v, 1, 24 * 3600, "--max-sound");
         }},
        {"--codecs", [](TCliOptions& o, const std::string& v) { o.codecs = ParseCodecs(v); }},
        {"--media-timeout", [](TCliOptions& o, const std::string& v) {
             o.mediaTimeoutSeconds = ParseBoundedInt(v, 0, 86400, "--media-timeout");
         }},
    };
    return table;
}

}  // namespace

TCliOptions ParseCliOptions(const std::vector<std::string>& args) {
    TCliOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--auto-answer") {
            options.autoAnswer = true;
            continue;
        }
        if (name == "--log") {
            options.log = true;
            continue;
        }
        if (name == "--accept-transfers") {
            options.acceptTransfers = true;
            continue;
        }
        if (name == "--calls-from-server-only") {
            options.callsFromServerOnly = true;
            continue;
        }
        const auto& table = ValueOptions();
        const auto it = table.find(name);
        if (it == table.end())
            throw std::invalid_argument("unknown option: " + name);
        if (i + 1 >= args.size())
            throw std::invalid_argument("missing value for " + name);
        it->second(options, args[++i]);
    }
    if (!options.server.empty() && options.user.empty())
        throw std::invalid_argument("--server needs --user");
    // A CA that would silently go unused reads as verification that is on.
    if (!options.tlsCaFile.empty() && options.transport != TSignallingTransport::kTls)
        throw std::invalid_argument("--tls-ca needs --transport tls");
    if (options.tlsCertificateFile.empty() != options.tlsKeyFile.empty())
        throw std::invalid_argument("--tls-cert and --tls-key go together");
    return options;
}
