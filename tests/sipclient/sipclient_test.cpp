// The component's own behaviour: defaults, what activation hands the engine,
// settings changed while active, errors reaching the caller, and the keypad
// digit methods.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>

#include "media/keypad_tones.h"
#include "media/wav.h"
#include "sip/account.h"
#include "engine/engine.h"
#include "sipclient/sipclient.h"
#include "tests/sipclient/sipclient_test_support.h"

namespace {

std::string ReadAll(IWavFile& wav) {
    std::string bytes(static_cast<std::size_t>(wav.GetSize()), '\0');
    wav.SetPosition(0);
    bytes.resize(static_cast<std::size_t>(wav.Read(bytes.data(), static_cast<int>(bytes.size()))));
    return bytes;
}

std::string TonePcm(int item) {
    media::TWavStream tone(media::KeypadToneWav(item));
    return ReadAll(tone);
}

// A client whose engines bind an ephemeral port and are counted.
struct TCountingClient {
    TSipClient client;
    int enginesMade = 0;
    std::shared_ptr<TSipEngine> last;

    TCountingClient() {
        client.SetEngineFactory([this](uint16_t port) {
            ++enginesMade;
            last = std::make_shared<TSipEngine>(port);
            return last;
        });
        client.SetLocalPort(0);
    }
};

TEST(SipClient, DefaultsAndNoEngineUntilActivated) {
    TCountingClient counted;
    TSipClient& client = counted.client;
    TSipClient fresh;
    EXPECT_EQ(fresh.GetLocalPort(), 5075);
    EXPECT_EQ(fresh.GetRtpPortMin(), 22000);
    EXPECT_EQ(fresh.GetRtpPortMax(), 24000);
    EXPECT_EQ(fresh.GetSilenceThreshold(), 500);
    EXPECT_EQ(fresh.GetSilenceTimeout(), 5000);
    EXPECT_EQ(fresh.GetDtmfMethod(), dtmfInBand);
    EXPECT_FALSE(fresh.GetActive());
    EXPECT_EQ(fresh.GetEngine(), nullptr);

    client.SetSilenceThreshold(700);  // stored only: no engine is made for it
    EXPECT_EQ(counted.enginesMade, 0);
    try {
        client.AddAccount("127.0.0.1", "alice", "pw", "", "");
        FAIL() << "an inactive component must refuse";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "not active");
    }
    EXPECT_THROW(client.RegisterAccount(NewTestAccount()), std::runtime_error);
    EXPECT_THROW(client.HangUp(NewTestCall()), std::runtime_error);
}

TEST(SipClient, ActivationHandsSettingsToTheEngineAndLaterChangesAsSpecified) {
    TCountingClient counted;
    TSipClient& client = counted.client;
    client.SetRtpPortMin(30000);
    client.SetRtpPortMax(30100);
    client.SetSilenceThreshold(650);
    client.SetSilenceTimeout(1500);
    client.SetActive(true);
    ASSERT_EQ(counted.enginesMade, 1);
    const auto engine = counted.last;
    EXPECT_EQ(client.GetEngine(), engine);
    EXPECT_TRUE(engine->GetActive());
    EXPECT_NE(engine->GetEventHandler(), nullptr);
    EXPECT_EQ(engine->GetRtpPortMin(), 30000);
    EXPECT_EQ(engine->GetRtpPortMax(), 30100);
    EXPECT_EQ(engine->GetSilenceThreshold(), 650);
    EXPECT_EQ(engine->GetSilenceTimeout(), 1500);

    client.SetSilenceThreshold(900);  // reaches the running engine at once
    client.SetSilenceTimeout(2500);
    client.SetRtpPortMin(31000);      // only at the next activation
    EXPECT_EQ(engine->GetSilenceThreshold(), 900);
    EXPECT_EQ(engine->GetSilenceTimeout(), 2500);
    EXPECT_EQ(engine->GetRtpPortMin(), 30000);

    client.SetActive(false);
    EXPECT_FALSE(engine->GetActive());
    EXPECT_EQ(client.GetEngine(), nullptr);
    client.SetActive(true);
    EXPECT_EQ(counted.last->GetRtpPortMin(), 31000);
}

TEST(SipClient, TakenPortReachesTheCallerAndActiveStaysTrue) {
    TCountingClient first;
    first.client.SetActive(true);
    TSipClient second;
    second.SetLocalPort(first.last->BoundPort());
    try {
        second.SetActive(true);
        FAIL() << "a taken signalling port must fail";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "bind failed");
    }
    EXPECT_TRUE(second.GetActive());
}

TEST(SipClient, AccountIsAddedAndRegistrationStamped) {
    TCountingClient counted;
    counted.client.SetActive(true);
    const ISipAccountPtr account =
        counted.client.AddAccount("127.0.0.1:9", "alice", "alicepw", "", "");
    EXPECT_EQ(account->GetDomain(), "127.0.0.1");
    EXPECT_EQ(account->GetServerPort(), 9);
    EXPECT_EQ(account->GetUserName(), "alice");
    const double before = NowAsDays();
    counted.client.RegisterAccount(account);
    EXPECT_LT(std::fabs(account->GetRegTime() - before) * 86400.0, 5.0);
}

TEST(SipClient, InBandDigitsPlayTheirKeypadTone) {
    TSipClient client;  // in band needs no engine
    struct TCase {
        std::string digit;
        int item;  // 0: nothing is played
    };
    const TCase cases[] = {{"#", 12}, {"0", 10}, {"*", 11}, {"1", 1}, {"9", 9},
                           {"5xyz", 5}, {"A", 0}, {"", 0}, {"x", 0}};
    for (const TCase& c : cases) {
        const auto call = NewTestCall();
        client.SendDtmf(call, c.digit);
        const IWavFilePtr played = call->GetWavFile();
        if (c.item == 0) {
            EXPECT_EQ(played, nullptr) << "digit \"" << c.digit << "\"";
            continue;
        }
        ASSERT_NE(played, nullptr) << "digit \"" << c.digit << "\"";
        EXPECT_EQ(played->GetPosition(), 0);
        EXPECT_EQ(ReadAll(*played), TonePcm(c.item)) << "digit \"" << c.digit << "\"";
    }
    EXPECT_NE(TonePcm(12), TonePcm(10));
}

TEST(SipClient, SignalledDigitMethodsGoThroughTheEngine) {
    TSipClient client;
    const auto call = NewTestCall();
    for (TDtmfMethod method : {dtmfRFC2833, dtmfSipInfo}) {
        client.SetDtmfMethod(method);
        EXPECT_THROW(client.SendDtmf(call, "1"), std::runtime_error) << int(method);
        EXPECT_EQ(call->GetWavFile(), nullptr) << "no tone when the digit is signalled";
    }
    client.SetDtmfMethod(static_cast<TDtmfMethod>(7));
    EXPECT_NO_THROW(client.SendDtmf(call, "1"));  // an unknown method sends nothing
    EXPECT_EQ(call->GetWavFile(), nullptr);
}

}  // namespace

namespace {

// What the operator types for a header is checked before the engine sees it:
// a control character is refused with invalid_argument, a clean value goes
// on (and meets "not active" here, as no engine runs).
TEST(SipClient, TypedHeaderValuesWithControlCharactersAreRefused) {
    TSipClient client;
    const auto call = NewTestCall();
    const std::function<void(const std::string&)> operations[] = {
        [&](const std::string& v) { client.AddAccount(v, "alice", "pw", "", ""); },
        [&](const std::string& v) { client.AddAccount("127.0.0.1", v, "pw", "", ""); },
        [&](const std::string& v) { client.AddAccount("127.0.0.1", "alice", "pw", v, ""); },
        [&](const std::string& v) { client.AddAccount("127.0.0.1", "alice", "pw", "", v); },
        [&](const std::string& v) { client.MakeCall(nullptr, v, -1, -1); },
        [&](const std::string& v) { client.Transfer(call, v); },
        [&](const std::string& v) { client.SendMessage(nullptr, v, "hola"); },
    };
    for (std::size_t i = 0; i < std::size(operations); ++i) {
        for (const std::string& bad :
             {std::string("a\r\nX: 1"), std::string("a\nb"), std::string("a\0b", 3),
              std::string("a\tb"), std::string("a\x7f")}) {
            EXPECT_THROW(operations[i](bad), std::invalid_argument) << i << " " << bad;
        }
        EXPECT_THROW(operations[i]("host.example"), std::runtime_error) << i;
    }
    client.SetDtmfMethod(dtmfSipInfo);
    EXPECT_THROW(client.SendDtmf(call, "\r"), std::invalid_argument);
    EXPECT_THROW(client.SendDtmf(call, ""), std::invalid_argument);
}

}  // namespace
