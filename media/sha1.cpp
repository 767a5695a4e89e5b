// OpenSSL's one-block call is marked deprecated in OpenSSL 3; it is the
// only way to its block function without a digest context per packet.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "media/sha1.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include <openssl/sha.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SOFTPHONE_SHA_NI 1
#endif

namespace media {

namespace {

constexpr std::array<uint32_t, 5> kInitialState = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};

void OpenSslBlocks(std::array<uint32_t, 5>& state, const uint8_t* data, std::size_t count) {
    SHA_CTX context{};
    context.h0 = state[0];
    context.h1 = state[1];
    context.h2 = state[2];
    context.h3 = state[3];
    context.h4 = state[4];
    for (std::size_t n = 0; n < count; ++n)
        SHA1_Transform(&context, data + n * TSha1::kBlockBytes);
    state = {context.h0, context.h1, context.h2, context.h3, context.h4};
}

#if SOFTPHONE_SHA_NI

#define SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Four rounds; the round function is an immediate operand.
SHA_TARGET __m128i FourRounds(__m128i abcd, __m128i e, int group) {
    switch (group / 5) {
    case 0:
        return _mm_sha1rnds4_epu32(abcd, e, 0);
    case 1:
        return _mm_sha1rnds4_epu32(abcd, e, 1);
    case 2:
        return _mm_sha1rnds4_epu32(abcd, e, 2);
    default:
        return _mm_sha1rnds4_epu32(abcd, e, 3);
    }
}

// FIPS 180-4 6.1.2 in groups of four rounds. The message words ride in a
// ring of four registers, W(i+4) made from W(i)..W(i+3) as group i runs;
// each group's E comes from A as it stood before the group ahead of it.
SHA_TARGET void ProcessorBlocks(std::array<uint32_t, 5>& state, const uint8_t* data, std::size_t count) {
    // Words big-endian, and in the register the first word highest.
    const __m128i reverse = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data())), 0x1b);
    __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (std::size_t block = 0; block < count; ++block, data += TSha1::kBlockBytes) {
        const __m128i abcdBefore = abcd, eBefore = e;
        __m128i words[4];
        for (int n = 0; n < 4; ++n)
            words[n] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * n)), reverse);
        __m128i abcdPrevious = abcd;
        for (int group = 0; group < 20; ++group) {
            const __m128i w = words[group % 4];
            const __m128i groupE = group == 0 ? _mm_add_epi32(e, w) : _mm_sha1nexte_epu32(abcdPrevious, w);
            abcdPrevious = abcd;
            abcd = FourRounds(abcd, groupE, group);
            if (group + 4 < 20) {
                const __m128i mixed = _mm_xor_si128(_mm_sha1msg1_epu32(w, words[(group + 1) % 4]),
                                                    words[(group + 2) % 4]);
                words[group % 4] = _mm_sha1msg2_epu32(mixed, words[(group + 3) % 4]);
            }
        }
        e = _mm_sha1nexte_epu32(abcdPrevious, eBefore);
        abcd = _mm_add_epi32(abcd, abcdBefore);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data()), _mm_shuffle_epi32(abcd, 0x1b));
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}

#endif

}  // namespace

bool TSha1::ProcessorHasSha() {
#if SOFTPHONE_SHA_NI
    static const bool has =
        __builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("ssse3");
    return has;
#else
    return false;
#endif
}

TCryptoEngine TSha1::BestEngine() { return ProcessorHasSha() ? TCryptoEngine::Processor : TCryptoEngine::OpenSsl; }

TSha1::TSha1(TCryptoEngine engine) : Engine_(engine), State_(kInitialState) {
    if (engine == TCryptoEngine::Processor && !ProcessorHasSha())
        throw std::runtime_error("this processor has no SHA instructions");
}

void TSha1::Blocks(const uint8_t* data, std::size_t count) {
#if SOFTPHONE_SHA_NI
    if (Engine_ == TCryptoEngine::Processor) {
        ProcessorBlocks(State_, data, count);
        return;
    }
#endif
    OpenSslBlocks(State_, data, count);
}

void TSha1::Update(const uint8_t* data, std::size_t length) {
    TotalBytes_ += length;
    if (PendingBytes_ > 0) {
        const std::size_t taken = std::min(length, kBlockBytes - PendingBytes_);
        std::memcpy(Pending_.data() + PendingBytes_, data, taken);
        PendingBytes_ += taken;
        data += taken;
        length -= taken;
        if (PendingBytes_ < kBlockBytes)
            return;
        Blocks(Pending_.data(), 1);
        PendingBytes_ = 0;
    }
    const std::size_t whole = length / kBlockBytes;
    if (whole > 0)
        Blocks(data, whole);
    PendingBytes_ = length - whole * kBlockBytes;
    std::memcpy(Pending_.data(), data + whole * kBlockBytes, PendingBytes_);
}

std::array<uint8_t, TSha1::kDigestBytes> TSha1::Final() {
    // A one bit, zeros, and the length in bits in the last eight bytes.
    const uint64_t bits = TotalBytes_ * 8;
    std::array<uint8_t, 2 * kBlockBytes> tail{};
    std::memcpy(tail.data(), Pending_.data(), PendingBytes_);
    tail[PendingBytes_] = 0x80;
    const std::size_t blocks = PendingBytes_ + 1 + 8 <= kBlockBytes ? 1 : 2;
    for (std::size_t n = 0; n < 8; ++n)
        tail[blocks * kBlockBytes - 1 - n] = static_cast<uint8_t>(bits >> (8 * n));
    Blocks(tail.data(), blocks);
    std::array<uint8_t, kDigestBytes> digest;
    for (std::size_t word = 0; word < 5; ++word)
        for (std::size_t n = 0; n < 4; ++n)
            digest[word * 4 + n] = static_cast<uint8_t>(State_[word] >> (24 - 8 * n));
    return digest;
}

}  // namespace media
