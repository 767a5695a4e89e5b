// SDP security descriptions (RFC 4568) for SRTP: the crypto attributes the
// agent writes and reads, and the offer/answer rules that turn them into the
// keys of a call.
//
// The agent speaks AES_CM_128_HMAC_SHA1_80 and AES_CM_128_HMAC_SHA1_32, in
// that order of preference, each with one inline key and neither key index
// (MKI) nor session parameters: an attribute asking for anything else is not
// one the agent can meet, and is passed over.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sip/sipints.h"

inline constexpr std::string_view kSrtpSuite80 = "AES_CM_128_HMAC_SHA1_80";
inline constexpr std::string_view kSrtpSuite32 = "AES_CM_128_HMAC_SHA1_32";
inline constexpr std::size_t kSdpKeySaltBytes = 30;

// "a=crypto:TAG SUITE inline:BASE64\r\n".
std::string SdpCryptoLine(const TSdpCrypto& crypto);

// The value of an "a=crypto:" attribute (the text after "crypto:"), when the
// agent can meet it: a known suite, one inline key of 30 bytes, a lifetime
// of at least 2^31 packets if one is given, no MKI, no session parameters.
std::optional<TSdpCrypto> ParseSdpCrypto(std::string_view value);

// A fresh key for `suite` under `tag`, from a cryptographic random source.
TSdpCrypto NewSdpCrypto(int tag, std::string_view suite);

// What an offer of ours carries: one fresh key per suite, tags 1 and 2.
std::vector<TSdpCrypto> NewCryptoOffer();

// The far end offered `offered` (usable attributes only, in its order); the
// one the agent takes: the first of the suite it prefers most.
std::optional<TSdpCrypto> ChooseOfferedCrypto(const std::vector<TSdpCrypto>& offered);

// The call's keys once it answers the far end's offer `offered`: theirs the
// chosen attribute, ours under its tag and suite, the key we had kept when
// the suite is unchanged (a re-offer) and fresh otherwise. Nothing when the
// offer holds no attribute the agent can meet.
std::optional<TCallCrypto> AnswerOfferedCrypto(const TCallCrypto& current,
                                               const std::vector<TSdpCrypto>& offered);

// The call's keys once the far end answered our offer with `answered`: the
// answer must hold exactly one attribute, under a tag we offered and with
// that tag's suite. Nothing otherwise.
std::optional<TCallCrypto> TakeAnsweredCrypto(const TCallCrypto& current,
                                              const std::vector<TSdpCrypto>& answered);
