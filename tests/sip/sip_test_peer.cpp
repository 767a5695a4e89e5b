#include "sip_test_peer.h"

#include <algorithm>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace sip_test {

TFakePeer::TFakePeer() {
    Socket_ = std::make_unique<TUdpSocket>(
        0, nullptr, [this](const std::string&, uint16_t, const uint8_t* data, std::size_t length) {
            std::lock_guard<std::mutex> guard(Lock_);
            Received_.emplace_back(reinterpret_cast<const char*>(data), length);
            Arrived_.notify_all();
        });
}

std::string TFakePeer::Next(std::chrono::milliseconds timeout, bool keepAlives) {
    std::unique_lock<std::mutex> guard(Lock_);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        while (!Received_.empty()) {
            std::string text = std::move(Received_.front());
            Received_.pop_front();
            if (keepAlives || text != "\r\n\r\n") return text;
        }
        if (Arrived_.wait_until(guard, deadline) == std::cv_status::timeout && Received_.empty())
            return std::string();
    }
}

std::string TFakePeer::NextOf(const std::string& method, const std::string& status,
                              std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) return std::string();
        std::string text = Next(left);
        if (text.empty()) return text;
        const TSipMessage message(text);
        if (message.CSeqMethod == method && message.StatusCode == status) return text;
    }
}

bool TFakePeer::Silent(std::chrono::milliseconds quiet) { return Next(quiet).empty(); }

void TFakePeer::Send(const std::string& text, uint16_t port) {
    Socket_->Send("127.0.0.1", port, text);
}

void TFakePeer::Clear() {
    std::lock_guard<std::mutex> guard(Lock_);
    Received_.clear();
}

void TRecordingSink::Invite(ISipCallPtr call) {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        Offered_ = call;
    }
    Add("Invite");
}

void TRecordingSink::Add(const std::string& event) {
    std::lock_guard<std::mutex> guard(Lock_);
    Events_.push_back(event);
    Changed_.notify_all();
}

std::vector<std::string> TRecordingSink::Events() {
    std::lock_guard<std::mutex> guard(Lock_);
    return Events_;
}

int TRecordingSink::Count(const std::string& event) {
    std::lock_guard<std::mutex> guard(Lock_);
    return static_cast<int>(std::count(Events_.begin(), Events_.end(), event));
}

bool TRecordingSink::WaitFor(const std::string& event, int count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(Lock_);
    return Changed_.wait_for(guard, timeout, [&] {
        return std::count(Events_.begin(), Events_.end(), event) >= count;
    });
}

ISipCallPtr TRecordingSink::OfferedCall() {
    std::lock_guard<std::mutex> guard(Lock_);
    return Offered_;
}

void TRecordingSink::ForgetCalls() {
    std::lock_guard<std::mutex> guard(Lock_);
    Offered_.reset();
}

uint16_t FreeUdpPort() {
    TUniqueFd socket(CreateUdpSocket(0));
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

std::string Respond(const std::string& request, const std::string& status,
                    const std::string& toTag, const std::string& extraHeaders,
                    const std::string& body) {
    const TSipMessage m(request);
    std::string text = "SIP/2.0 " + status + "\r\n" + m.ViaHeaders + m.FromHeader + "\r\n" +
                       // A request inside a dialog already names the tag.
                       m.ToHeader + (toTag.empty() || !m.ToTag.empty() ? "" : ";tag=" + toTag) + "\r\n" +
                       "Call-ID: " + m.CallId + "\r\n" + "CSeq: " + m.CSeqNumber + " " +
                       m.CSeqMethod + "\r\n" + extraHeaders;
    if (!body.empty()) text += "Content-Type: application/sdp\r\n";
    text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return text;
}

std::string SdpBody(int port, const std::string& payloads) {
    return "v=0\r\no=peer 1 1 IN IP4 127.0.0.1\r\ns=peer\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
           "m=audio " + std::to_string(port) + " RTP/AVP " + payloads + "\r\n";
}

}  // namespace sip_test
