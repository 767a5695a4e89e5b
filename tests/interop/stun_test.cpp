// Registration through a STUN query: a responder on 127.0.0.1:3478 hands out
// a public address, and the registrar stores the Contact built with it.
#include <array>
#include <atomic>
#include <vector>

#include "interop_support.h"
#include "sip/transport.h"

namespace interop {
namespace {

constexpr uint16_t kStunPort = 3478;

// Answers binding requests from port `client` with a 32-byte binding response
// whose first attribute is MAPPED-ADDRESS `mapped`:`mappedPort`. Requests
// from elsewhere (other tests' engines) get nothing.
class TStunResponder {
public:
    TStunResponder(uint16_t client, std::array<uint8_t, 4> mapped, uint16_t mappedPort)
        : Socket_(kStunPort, nullptr,
                  [this, client, mapped, mappedPort](const std::string& address, uint16_t port,
                                                     const uint8_t* data, std::size_t length) {
                      if (port != client || length < 20 || data[0] != 0x00 || data[1] != 0x01) return;
                      ++Requests;
                      std::vector<uint8_t> answer = {0x01, 0x01, 0x00, 0x0C};
                      answer.insert(answer.end(), data + 4, data + 20);
                      const uint8_t attribute[] = {0x00, 0x01, 0x00, 0x08, 0x00, 0x01,
                                                   uint8_t(mappedPort >> 8), uint8_t(mappedPort & 0xFF)};
                      answer.insert(answer.end(), std::begin(attribute), std::end(attribute));
                      answer.insert(answer.end(), mapped.begin(), mapped.end());
                      Socket_.Send(address, port, answer.data(), answer.size());
                  }) {}
    std::atomic<int> Requests{0};

private:
    TUdpSocket Socket_;
};

TEST(StunRegistration, ContactCarriesTheMappedAddress) {
    INTEROP_REQUIRE("kamailio");
    INTEROP_REQUIRE("kamcmd");
    TKamailio proxy;
    ASSERT_TRUE(proxy.Ready()) << proxy.Log();
    TTestEngine carol;
    TStunResponder stun(carol.Port, {203, 0, 113, 7}, 40000);
    const ISipAccountPtr account =
        carol.AddAccount("127.0.0.1", proxy.Server(), "carol", "carolpw");
    carol.Engine->Register(account);
    ASSERT_TRUE(carol.Sink->WaitFor("RegistrationOk")) << proxy.Log();
    EXPECT_EQ(stun.Requests.load(), 1);
    EXPECT_EQ(account->GetContactHost(), "203.0.113.7");
    const std::string locations = proxy.Locations();
    EXPECT_NE(locations.find("sip:carol@203.0.113.7:" + std::to_string(carol.Port)), std::string::npos)
        << locations;
}

}  // namespace
}  // namespace interop
