// The REGISTER and MESSAGE requests of an account. Each returns the whole
// datagram; the caller holds the account's lock and sends the text to the
// account's server address and port.
#pragma once

#include <string>

#include "sip/message.h"
#include "sip/sipints.h"

// REGISTER with the account's branch, CSeq, tag and expiry.
std::string ComposeRegister(ISipAccount& account);
// The same retried after a challenge; counts the use of the challenge's
// nonce in the account (SetDigestUse).
std::string ComposeRegisterWithCredentials(ISipAccount& account);
// REGISTER that removes every binding ("Contact: *", "Expires: 0").
std::string ComposeUnregister(ISipAccount& account);
std::string ComposeUnregisterWithCredentials(ISipAccount& account);

// An instant message to `target` in the account's domain, with a Call-ID and
// branch of its own. A trailing CR LF of `text` is not sent.
std::string ComposeMessage(ISipAccount& account, const std::string& target,
                           const std::string& text);
// The retry of the account's pending message after `challenge` (the 401 or
// 407 answer): a new transaction (fresh branch) with that answer's Call-ID.
std::string ComposeMessageWithCredentials(const TSipMessage& challenge, ISipAccount& account,
                                          const std::string& target);

// `text` without its last CR LF, when it ends in one.
std::string CutMessageText(const std::string& text);
