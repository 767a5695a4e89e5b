// Command-line options of softphone-cli.
#pragma once

#include <string>
#include <vector>

#include "sip/sipints.h"

struct TCliOptions {
    int localPort = 5075;
    std::string server;  // registrar and domain, "host" or "host:port"
    std::string user;
    std::string password;
    std::string proxy;
    std::string stun;
    TSignallingTransport transport = TSignallingTransport::kUdp;
    std::string tlsCaFile;  // trusted beside the system's store for the server's certificate
    std::string tlsCertificateFile;  // ours, with its key: TLS taken from peers; empty: none
    std::string tlsKeyFile;
    std::string displayName;
    int expires = 0;  // 0: the account's own default
    TDtmfMethod dtmf = dtmfInBand;
    std::string mic;      // device name, "null" or a ".wav" path; empty: default
    std::string speaker;  // same choices as mic
    int rtpPortMin = 22000;
    int rtpPortMax = 24000;
    bool autoAnswer = false;
    bool acceptTransfers = false;
    bool callsFromServerOnly = false;  // incoming calls from the server only (403 to others)  // a far end's transfer request is carried out unasked
    int busyAfterSeconds = 30;  // a call waiting unanswered this long is refused busy
    int mediaTimeoutSeconds = 30;  // a connected call hearing nothing this long ends; 0: never
    bool log = false;
    int maxSoundSeconds = 600;  // `play` refuses a longer sound
    std::vector<int> codecs;  // payload types in order of preference; empty: the default list
};

// Throws std::invalid_argument with a text fit for the user.
TCliOptions ParseCliOptions(const std::vector<std::string>& args);

// Parses a whole decimal number in [min, max]; throws std::invalid_argument
// naming `what` otherwise.
int ParseBoundedInt(const std::string& text, int min, int max, const std::string& what);

extern const char* const kCliUsage;
