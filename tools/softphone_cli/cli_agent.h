// The command-line user agent: one TSipClient, one optional account, the
// current call (the last placed or offered), commands from standard input
// run one after another, events written to standard output one per line.
#pragma once

#include <QObject>
#include <QTimer>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "sipclient/sipclient.h"
#include "tools/softphone_cli/cli_options.h"
#include "tools/softphone_cli/speech_worker.h"

class TCliAgent : public QObject {
    Q_OBJECT

public:
    // Longest text `say` takes, in characters: about half a minute of speech,
    // synthesised in a few seconds at most.
    static constexpr std::size_t kMaxSayCharacters = 500;

    explicit TCliAgent(const TCliOptions& options, QObject* parent = nullptr);

    // Activates the user agent; errors (a taken port) reach the caller.
    void Start();
    // Queues one input line, or the end of input; called on the agent's thread.
    void Enqueue(std::optional<std::string> line);

signals:
    void Finished();

private:
    // Event output.
    void ConnectEvents();
    static void Print(const std::string& line);
    static void PrintError(const std::string& text);

    // Commands (cli_commands.cpp).
    void RunQueue();
    void Execute(const std::string& line);
    void RunCallCommand(const std::string& name, const std::string& argument);
    void SendDigits(const std::string& digits);
    void Pause(int milliseconds);
    ISipAccountPtr RequireAccount() const;
    ISipCallPtr RequireCall() const;

    // Calls offered while another is in progress (cli_waiting.cpp). Every
    // call, placed or offered, takes the next number.
    int NumberNextCall();
    void OfferIncoming(const ISipCallPtr& call);
    void RefuseWaiting(int number);
    void AnswerWaiting(const std::string& argument);
    void ForgetWaiting(const ISipCallPtr& call);

    // Sounds (cli_sounds.cpp).
    static std::unique_ptr<TSpeechWorker> MakeSpeechWorker();
    void PlaySound(const ISipCallPtr& call, const std::string& fileNames);
    void SaySound(const ISipCallPtr& call, const std::string& text);
    void SpeechReady(const ISipCallPtr& call, const TSpeechWorker::TResult& result);

    // Leaving: hang up, unregister, then finish once both are confirmed or
    // after a bounded wait.
    void Quit();
    void CheckQuitDone();

    const TCliOptions Options_;
    TSipClient Client_;
    ISipAccountPtr Account_;
    ISipCallPtr Call_;
    bool Registered_ = false;
    bool SoundPending_ = false;  // a sound was set and its wav-stopped not yet printed
    int CallCount_ = 0;          // calls placed or offered so far
    struct TWaitingCall {
        ISipCallPtr call;
        std::unique_ptr<QTimer> busyTimer;
    };
    std::map<int, TWaitingCall> Waiting_;  // by call number

    std::deque<std::optional<std::string>> Queue_;
    bool Paused_ = false;
    bool Quitting_ = false;
    QTimer PauseTimer_;
    QTimer QuitTimer_;
    // Last: destroyed (and joined) first, while the rest is still whole.
    std::unique_ptr<TSpeechWorker> Speech_ = MakeSpeechWorker();
};
