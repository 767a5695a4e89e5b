// Requests that ask for a secure path to us and did not get one.
#include "engine/engine.h"
#include "sip/compose.h"
#include "sip/dialog_parts.h"
#include "sip/request_check.h"
#include "sip/signalling_transport.h"

// A sips: Request-URI asks for TLS on every hop up to and including the last
// one, ours (RFC 5630 4, which tightens RFC 3261 26.2.2): one that came over
// UDP or plain TCP was readable on the wire and is not taken as if it had
// been protected. The answer is 480 Temporarily Unavailable with warning 380
// "SIPS Not Allowed", not 416 Unsupported URI Scheme: we do take sips:, over
// TLS, and a caller told the scheme is unknown may well try again with sip:,
// which is the downgrade the caller's sips: was meant to rule out. 480 says
// only that we cannot be reached this way now.
// A request handed in without a source (a host or a test feeding text) has
// no hop to judge and is taken.
// A new dialog over TLS for an account that is not on TLS is refused the
// same way: its later requests would leave over that account's transport,
// and a sips: request is never sent in clear, so the dialog could not even
// be ended.
bool TSipEngine::RefuseSipsInClear(const TSipMessage& request, const TDatagramSource& source) {
    if (source.address.empty() || !IsSipsUri(request.RequestUri)) return false;
    if (source.tls) {
        if (!request.ToTag.empty() || request.RequestMethod != "INVITE") return false;
        const ISipAccountPtr account = FindAccountFor(request.ToUser, request.RequestUser);
        if (!account || account->GetTransport() == TSignallingTransport::kTls) return false;
    }
    if (!CanRefuse(request)) return true;
    // The warning names us as the caller addressed us.
    const std::optional<THostPort> us = UriHostPort(request.RequestUri);
    const std::string agent = us && !us->host.empty() ? us->host : std::string("-");
    SendToVia(request, nullptr,
              ComposeRefusal(request, "480 Temporarily Unavailable", NewTag(),
                             "Warning: 380 " + agent + " \"SIPS Not Allowed\"\r\n"),
              false);
    return true;
}
