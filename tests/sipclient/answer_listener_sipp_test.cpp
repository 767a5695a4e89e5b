// The answer supervision on real calls: SIPp peers of our own answer the
// component's call and then play ringback, an announcement followed by
// silence, nothing at all, or a person talking. The listener hears the
// frames the call really decoded and flags each bad answer exactly once;
// the call goes on untouched until the test hangs it up.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "media/audio_file_devices.h"
#include "media/g711.h"
#include "media/speech.h"
#include "sipclient/answer_listener.h"
#include "sipclient/sipclient.h"
#include "tests/interop/interop_support.h"

namespace {

using interop::TSipp;
using interop::TTempDir;
using media::TAnswerFlag;

void WriteAlaw(const std::filesystem::path& file, const std::vector<int16_t>& pcm) {
    std::vector<uint8_t> alaw(pcm.size());
    media::EncodeAlaw(pcm.data(), alaw.data(), static_cast<int>(pcm.size()));
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(alaw.data()),
                                                static_cast<std::streamsize>(alaw.size()));
}

// Runs the Qt event loop for `ms` milliseconds.
void Pump(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

class AnswerSupervisionPeers : public ::testing::Test {
protected:
    void SetUp() override {
        INTEROP_REQUIRE("sipp");
        INTEROP_REQUIRE("sox");
        // The audio the peers play, made now in SIPp's working folder.
        ASSERT_EQ(interop::RunToEnd({interop::FindProgram("sox"), "-n", "-r", "8000", "-c", "1", "-t", "al",
                                     (Audio.Path() / "ringback.alaw").string(), "synth", "1", "sine", "425",
                                     "vol", "0.3", "pad", "0", "4"},
                                    Audio.Path() / "sox.out"),
                  "");
        std::vector<int16_t> announcement = media::SpeakText(
            "El número que usted ha marcado no se encuentra disponible. Intente más tarde.", 0);
        announcement.resize(announcement.size() + 20 * 8000, 0);
        WriteAlaw(Audio.Path() / "announcement.alaw", announcement);
        WriteAlaw(Audio.Path() / "speech.alaw",
                  media::SpeakText("Hola, sí, habla Marta. Te escucho bien, contame cómo llegaste y cuándo "
                                   "volvés a casa, que acá te esperamos todos.",
                                   0));

        Client.SetLocalPort(sip_test::FreeUdpPort());
        Client.SetAudioDeviceFactory(
            {[](ISipCall&) { return std::make_shared<media::TFileSpeaker>(""); },
             [](ISipCall&) { return std::make_shared<media::TFileMicrophone>(""); }});
        Client.SetActive(true);
        PeerPort = sip_test::FreeUdpPort();
        Account = Client.AddAccount("127.0.0.1:" + std::to_string(PeerPort), "alice", "alicepw", "", "");
        std::lock_guard<ISipAccount> guard(*Account);
        Account->SetLocalIp("127.0.0.1");
    }

    void TearDown() override { Client.SetActive(false); }

    // Calls the peer, listens from the answer to the end of the watch and a
    // second more, hangs up; returns the flags raised, in order.
    std::vector<std::string> Listen(const std::string& scenario) {
        TSipp peer(std::string(SIPCLIENT_TEST_SOURCE_DIR) + "/scenarios/" + scenario, PeerPort, "", {},
                   Audio.Path());
        TAnswerListener listener;
        std::vector<std::string> flags;
        QObject::connect(&listener, &TAnswerListener::Flagged, [&](ISipCallPtr, TAnswerFlag flag) {
            if (flag == TAnswerFlag::NoAudioFromDestination)
                flags.push_back("dead");
            else
                flags.push_back(listener.Cause() == media::TFalseAnswerCause::Ringback ? "ringback"
                                                                                        : "announcement");
        });
        const ISipCallPtr call = Client.MakeCall(Account, "5550100", -1, -1);
        bool answered = false, ended = false;
        QObject::connect(&Client, &TSipClient::OnInviteOk, &listener, [&](TSipClient*, ISipCallPtr c) {
            if (c != call) return;
            answered = true;
            listener.Listen(c);
        });
        QObject::connect(&Client, &TSipClient::OnBye, &listener, [&](TSipClient*, ISipCallPtr c) {
            if (c == call) ended = true;
        });
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, &listener, &TAnswerListener::Tick);
        ticker.start(250);

        QDeadlineTimer ring(30000);  // bounds only a fault reaches
        while (!answered && !ring.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_TRUE(answered) << peer.Errors();
        Pump(listener.Settings().WatchMs + 1000);
        EXPECT_FALSE(ended) << "the supervision must leave the call alone";
        listener.Stop();
        Client.HangUp(call);
        QDeadlineTimer bye(30000);
        while (!ended && !bye.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_EQ(peer.Wait(), 0) << peer.Errors();
        return flags;
    }

    TTempDir Audio;
    TSipClient Client;
    uint16_t PeerPort = 0;
    ISipAccountPtr Account;
};

TEST_F(AnswerSupervisionPeers, RingbackAfterTheAnswerIsAFalseAnswer) {
    EXPECT_EQ(Listen("uas_ringback.xml"), std::vector<std::string>{"ringback"});
}

TEST_F(AnswerSupervisionPeers, AnnouncementThenSilenceIsAFalseAnswer) {
    EXPECT_EQ(Listen("uas_announcement.xml"), std::vector<std::string>{"announcement"});
}

TEST_F(AnswerSupervisionPeers, NoRtpIsADeadLine) {
    EXPECT_EQ(Listen("uas_mute.xml"), std::vector<std::string>{"dead"});
}

TEST_F(AnswerSupervisionPeers, SpeechRaisesNoFlag) {
    EXPECT_EQ(Listen("uas_speech.xml"), std::vector<std::string>{});
}

}  // namespace
