// Which code runs the SRTP packets' block ciphers and hashes: the
// processor's own instructions where it has them, OpenSSL on any processor.
#pragma once

namespace media {

enum class TCryptoEngine {
    Processor,  // x86 AES or SHA instructions
    OpenSsl,
};

}  // namespace media
