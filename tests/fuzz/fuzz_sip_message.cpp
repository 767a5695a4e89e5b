// libFuzzer entry: any bytes must parse without a crash or a read outside
// the datagram. Build with clang; run e.g. `fuzz_sip_message -max_total_time=60`.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sip/message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TSipMessage message(std::string(reinterpret_cast<const char*>(data), size));
    for (int i = 0; i < message.RecordRouteCount(); ++i) (void)message.RecordRouteAt(i);
    for (int i = 0; i < message.PayloadCount(); ++i) (void)message.PayloadAt(i);
    return 0;
}
