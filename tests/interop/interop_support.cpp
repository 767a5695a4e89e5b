#include "interop_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "sip/transport.h"

extern char** environ;

namespace interop {

std::string FindProgram(const std::string& name) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    // Kamailio lives in sbin, which a plain user's PATH may leave out.
    path += ":/usr/sbin:/usr/local/sbin:/sbin";
    std::stringstream folders(path);
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty()) continue;
        const std::filesystem::path candidate = std::filesystem::path(folder) / name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return std::string();
}

std::filesystem::path SourceDir() { return INTEROP_SOURCE_DIR; }

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int CountOf(const std::string& text, const std::string& needle) {
    int count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}

TTempDir::TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "interop-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    Path_ = pattern;
}

TTempDir::~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Path_, ignored);
}

TChildProcess::TChildProcess(const std::vector<std::string>& argv,
                             const std::filesystem::path& output, const std::filesystem::path& workingDir) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const int error = posix_spawn(&Pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        Pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0]);
    }
}

TChildProcess::~TChildProcess() { Stop(); }

int TChildProcess::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Pid_ > 0) {
        int status = 0;
        const pid_t done = waitpid(Pid_, &status, WNOHANG);
        if (done == Pid_) {
            Pid_ = -1;
            ExitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            Stop();
            return -1;
        }
        std::this_thread::sleep_for(20ms);
    }
    return ExitCode_;
}

bool TChildProcess::Running() {
    if (Pid_ <= 0) return false;
    int status = 0;
    if (waitpid(Pid_, &status, WNOHANG) != Pid_) return true;
    Pid_ = -1;
    ExitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
}

void TChildProcess::Stop() {
    if (Pid_ <= 0) return;
    kill(Pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    int status = 0;
    while (waitpid(Pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(Pid_, SIGKILL);
            waitpid(Pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(20ms);
    }
    Pid_ = -1;
    ExitCode_ = -1;
}

std::string RunToEnd(const std::vector<std::string>& argv, const std::filesystem::path& output,
                     std::chrono::milliseconds timeout) {
    TChildProcess child(argv, output);
    child.Wait(timeout);
    return ReadFile(output);
}

bool WaitForUdpBound(uint16_t port, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        TUniqueFd probe(socket(AF_INET, SOCK_DGRAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
            errno == EADDRINUSE)
            return true;
        probe = TUniqueFd();
        std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

TKamailio::TKamailio(const std::vector<std::string>& defines) {
    const std::filesystem::path dir = Dir_.Path();
    std::filesystem::create_directories(dir / "run");
    Port_ = sip_test::FreeUdpPort();
    std::string config = ReadFile(SourceDir() / "kamailio.cfg");
    const std::string listen = "listen=udp:127.0.0.1:5060";
    const std::size_t at = config.find(listen);
    if (at == std::string::npos) throw std::runtime_error("kamailio.cfg has no listen line");
    config.replace(at, listen.size(), "listen=udp:127.0.0.1:" + std::to_string(Port_));
    std::ofstream(dir / "kamailio.cfg") << config;
    std::vector<std::string> argv = {FindProgram("kamailio"),
                                     "-f", (dir / "kamailio.cfg").string(),
                                     "-P", (dir / "kamailio.pid").string(),
                                     "-Y", (dir / "run").string(),
                                     "-w", dir.string(),
                                     "-m", "64", "-M", "8", "-DD", "-E",
                                     "-A", "CTLSOCK=\"unix:" + (dir / "ctl").string() + "\""};
    for (const std::string& define : defines) {
        argv.push_back("-A");
        argv.push_back(define);
    }
    Process_ = std::make_unique<TChildProcess>(argv, dir / "kamailio.log");
    // Kamailio answers within a second on a quiet machine; the bound is for
    // one that never comes up.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!Ready_ && std::chrono::steady_clock::now() < deadline && Process_->Running())
        Ready_ = Ping();
}

bool TKamailio::Ping() {
    sip_test::TFakePeer peer;
    const std::string port = std::to_string(peer.Port());
    peer.Send("OPTIONS sip:" + Server() + " SIP/2.0\r\n"
              "Via: SIP/2.0/UDP 127.0.0.1:" + port + ";branch=z9hG4bKping" + port + "\r\n"
              "From: <sip:ping@127.0.0.1>;tag=p1\r\nTo: <sip:127.0.0.1>\r\n"
              "Call-ID: ping" + port + "\r\nCSeq: 1 OPTIONS\r\nMax-Forwards: 70\r\n"
              "Content-Length: 0\r\n\r\n",
              Port_);
    return !peer.NextOf("OPTIONS", "200", 300ms).empty();
}

std::string TKamailio::Locations() {
    return RunToEnd({FindProgram("kamcmd"), "-s", "unix:" + (Dir_.Path() / "ctl").string(), "ul.dump"},
                    Dir_.Path() / "ul.dump");
}

TSipp::TSipp(const std::string& scenario, uint16_t port, const std::string& target,
             const std::vector<std::string>& extra, const std::filesystem::path& workingDir)
    : Port_(port) {
    const std::filesystem::path dir = Dir_.Path();
    std::vector<std::string> argv = {FindProgram("sipp")};
    if (!target.empty()) argv.push_back(target);
    const std::vector<std::string> common = {
        "-sf", (SourceDir() / "scenarios" / scenario).string(),
        "-i", "127.0.0.1", "-mi", "127.0.0.1", "-p", std::to_string(port),
        "-mp", std::to_string(sip_test::FreeUdpPort() & ~1),
        "-m", "1", "-nostdin", "-timeout", "30", "-timeout_error",
        "-trace_msg", "-message_file", (dir / "messages.log").string(),
        "-trace_err", "-error_file", (dir / "errors.log").string()};
    argv.insert(argv.end(), common.begin(), common.end());
    argv.insert(argv.end(), extra.begin(), extra.end());
    Process_ = std::make_unique<TChildProcess>(argv, dir / "sipp.out", workingDir);
    if (target.empty()) WaitForUdpBound(port);
}

std::string TSipp::Errors() const {
    return ReadFile(Dir_.Path() / "errors.log") + ReadFile(Dir_.Path() / "sipp.out");
}

TTestEngine::TTestEngine() {
    TSipEngineOptions options;
    options.autoTick = false;
    options.clock.now = [this] { return Days.load(); };
    options.keepAlivePeriod = std::chrono::minutes(10);
    options.timerPeriod = std::chrono::minutes(10);
    Port = sip_test::FreeUdpPort();
    Engine = std::make_shared<TSipEngine>(Port, options);
    Sink = std::make_shared<sip_test::TRecordingSink>();
    Engine->SetEventHandler(Sink);
    Engine->SetActive(true);
}

TTestEngine::~TTestEngine() {
    Engine.reset();
    Sink->ForgetCalls();
}

ISipAccountPtr TTestEngine::AddAccount(const std::string& stunServer, const std::string& server,
                                       const std::string& user, const std::string& password) {
    const ISipAccountPtr account = Engine->AddAccount(stunServer, server, user, password, "");
    std::lock_guard<ISipAccount> guard(*account);
    account->SetLocalIp("127.0.0.1");
    return account;
}

bool TTestEngine::Idle() {
    std::lock_guard<TSipCalls> list(Engine->Calls());
    return Engine->Calls().Count() == 0 && Engine->Ports().InUseCount() == 0;
}

bool TTestEngine::WaitIdle(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!Idle()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

}  // namespace interop
