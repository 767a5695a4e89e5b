// Helpers for running the engine against real SIP programs on 127.0.0.1:
// child processes bounded in time, scratch folders, a Kamailio registrar and
// proxy, SIPp peers, and an engine with a recording sink and a fake clock.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "tests/sip/sip_test_peer.h"

namespace interop {

using namespace std::chrono_literals;

// The full path of an installed program, or empty when it is not installed.
std::string FindProgram(const std::string& name);

// The folder of this program's configs and scenarios (tests/interop).
std::filesystem::path SourceDir();

std::string ReadFile(const std::filesystem::path& path);

// Number of non-overlapping occurrences of `needle` in `text`.
int CountOf(const std::string& text, const std::string& needle);

// A scratch folder removed with everything in it when the object goes.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::filesystem::path& Path() const { return Path_; }

private:
    std::filesystem::path Path_;
};

// A child process with stdout and stderr in a file. The destructor stops a
// child still running (SIGTERM, then SIGKILL) and reaps it.
class TChildProcess {
public:
    // `workingDir` empty: the child starts in ours.
    TChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& output,
                  const std::filesystem::path& workingDir = {});
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;
    // The exit code, or -1 when the child did not end in time (it is then
    // stopped) or ended by a signal.
    int Wait(std::chrono::milliseconds timeout);
    bool Running();
    void Stop();

private:
    pid_t Pid_ = -1;
    int ExitCode_ = -1;
};

// Runs a program to its end (bounded) and returns what it printed.
std::string RunToEnd(const std::vector<std::string>& argv, const std::filesystem::path& output,
                     std::chrono::milliseconds timeout = 30s);

// True once something holds UDP port `port` on 127.0.0.1 (so a peer started
// in the background is ready to receive), false when `timeout` passes first.
bool WaitForUdpBound(uint16_t port, std::chrono::milliseconds timeout = 20s);

// Kamailio as registrar and proxy on 127.0.0.1 with the test users
// alice/alicepw, bob/bobpw and carol/carolpw. It listens on a free port
// rather than 5060, which other programs on the machine may hold.
class TKamailio {
public:
    // Starts it with the given -A defines; Ready() tells whether it answers.
    explicit TKamailio(const std::vector<std::string>& defines = {});
    bool Ready() const { return Ready_; }
    uint16_t Port() const { return Port_; }
    // "127.0.0.1:port", the server text of an account registering here.
    std::string Server() const { return "127.0.0.1:" + std::to_string(Port_); }
    // The registrations it holds (kamcmd ul.dump).
    std::string Locations();
    // Its log (every request and reply it saw is written there), up to the
    // last complete line: Kamailio may be writing the next one.
    std::string Log() const {
        std::string text = ReadFile(Dir_.Path() / "kamailio.log");
        text.erase(text.find_last_of('\n') == std::string::npos ? 0 : text.find_last_of('\n') + 1);
        return text;
    }

private:
    bool Ping();
    TTempDir Dir_;
    uint16_t Port_ = 0;
    std::unique_ptr<TChildProcess> Process_;
    bool Ready_ = false;
};

// One run of a SIPp scenario from tests/interop/scenarios with the common
// options (loopback, one call, 30 s limit, message trace).
class TSipp {
public:
    // `target` empty makes a server on `port`; else SIPp calls `target`.
    // A relative `scenario` is one of tests/interop/scenarios. SIPp reads the
    // audio files its scenario names from `workingDir` (ours when empty).
    TSipp(const std::string& scenario, uint16_t port, const std::string& target = "",
          const std::vector<std::string>& extra = {}, const std::filesystem::path& workingDir = {});
    // Waits for SIPp's exit code (0 when the scenario passed).
    int Wait(std::chrono::milliseconds timeout = 40s) { return Process_->Wait(timeout); }
    // What SIPp sent and received, word for word.
    std::string Trace() const { return ReadFile(Dir_.Path() / "messages.log"); }
    // SIPp's unexpected-message and failed-check report plus its output.
    std::string Errors() const;
    uint16_t Port() const { return Port_; }

private:
    TTempDir Dir_;
    uint16_t Port_;
    std::unique_ptr<TChildProcess> Process_;
};

// An engine on a free loopback port with a recording sink and a fake clock
// (Tick is driven by the test).
struct TTestEngine {
    TTestEngine();
    ~TTestEngine();
    // Adds an account whose Via and Contact name 127.0.0.1, so that every
    // peer reaches the engine on loopback whatever the host's own address.
    ISipAccountPtr AddAccount(const std::string& stunServer, const std::string& server,
                              const std::string& user, const std::string& password);
    void AdvanceSeconds(double seconds) { Days = Days.load() + seconds / 86400.0; }
    // No call listed and no RTP port held.
    bool Idle();
    // Waits up to `timeout` for Idle().
    bool WaitIdle(std::chrono::milliseconds timeout = 20s);

    std::atomic<double> Days{46000.5};
    uint16_t Port = 0;
    std::shared_ptr<sip_test::TRecordingSink> Sink;
    std::shared_ptr<TSipEngine> Engine;
};

// Skips the current test when a program is missing.
#define INTEROP_REQUIRE(program)                                                  \
    do {                                                                          \
        if (::interop::FindProgram(program).empty())                              \
            GTEST_SKIP() << program << " is not installed";                       \
    } while (0)

}  // namespace interop
