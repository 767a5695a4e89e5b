// Values that end up inside header lines: what an operator may type for them,
// and how each is written so that no value can end a line, close a quoted
// string or add a parameter. Values typed by an operator are refused with a
// clear error when they hold a control character; values taken into a URI's
// user part are percent-encoded instead, so even a value that bypassed the
// checks cannot change the message's shape.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sip_header {

// Longest user part (after percent-encoding) and host of a dialled number or
// target. Each appears up to three times in an INVITE (request line, To, the
// credentials' uri), which with the display name, the account's own URIs and
// the offer keeps every request well below the largest datagram the agent
// reads (kMaxDatagram), so an answer echoing it can still be received.
inline constexpr std::size_t kMaxUserPartLength = 128;
inline constexpr std::size_t kMaxHostLength = 253;
// Longest display name, in bytes as typed.
inline constexpr std::size_t kMaxDisplayNameLength = 128;

// True for bytes 0x00-0x1F and 0x7F (CR, LF, NUL, TAB and the rest).
bool IsControl(char c);

// Throws std::invalid_argument("<what> must not contain control characters")
// when `value` holds one.
void RequireNoControl(std::string_view value, std::string_view what);

// `text` as a quoted string: enclosed in double quotes, with every quote and
// backslash escaped by a backslash. Control characters cannot be written in
// a quoted string at all and are left out.
std::string QuotedString(std::string_view text);

// `user` as the user part of a SIP URI: the characters RFC 3261 allows there
// that no peer misreads (letters, digits, "-_.!~*'()+$,") and escapes
// already formed ("%" and two hex digits) stay; every other byte becomes "%"
// and two upper-case hex digits.
std::string EscapeUserPart(std::string_view user);

// Throws std::invalid_argument unless `host` is a host name, an IPv4 address
// or a bracketed IPv6 reference, optionally followed by ":" and a port, of at
// most kMaxHostLength characters. `what` names the value in the error.
void RequireHost(std::string_view host, std::string_view what);

// The URI of a dialled number or target: "sip:user@domain" for a bare user,
// or "sip:user@host" when the target names its own host after "@" (a leading
// "sip:" is accepted). The user part is percent-encoded (at most
// kMaxUserPartLength characters once encoded) and the host checked with
// RequireHost; any other target throws std::invalid_argument.
std::string TargetUri(std::string_view target, std::string_view domain);

// The checks of TargetUri for a value the operator typed, control characters
// included, without building anything.
void RequireDialTarget(std::string_view target);

}  // namespace sip_header
