// The command-line user agent: one TSipClient, one optional account, the
// numbered calls (the current one is the last placed or offered), commands
// from standard input run one after another, events written to standard
// output one per line.
#pragma once

#include <QObject>
#include <QTimer>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "sipclient/sipclient.h"
#include "tools/softphone_cli/cli_call_list.h"
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
    void ConnectMessageEvents();
    void ConnectTransferEvents();
    static void Print(const std::string& line);
    static void PrintError(const std::string& text);
    // "stats" and the call's quality figures.
    static void PrintStats(const ISipCallPtr& call);

    // Commands (cli_commands.cpp).
    void RunQueue();
    void Execute(const std::string& line);
    void RunCallCommand(const std::string& name, const std::string& argument);
    void SendDigits(const std::string& digits);
    void Pause(int milliseconds);
    ISipAccountPtr RequireAccount() const;
    ISipCallPtr RequireCall() const;

    // Calls offered while another is in progress (cli_waiting.cpp): numbered
    // like every call, but not made current until `answer N`.
    void OfferIncoming(const ISipCallPtr& call);
    void RefuseWaiting(int number);
    void AnswerWaiting(const std::string& argument);
    void ForgetWaiting(const ISipCallPtr& call);

    // Sounds (cli_sounds.cpp).
    static std::unique_ptr<TSpeechWorker> MakeSpeechWorker();
    void PlaySound(const ISipCallPtr& call, const std::string& fileNames);
    void SaySound(const ISipCallPtr& call, const std::string& text);
    void SpeechReady(const ISipCallPtr& call, const TSpeechWorker::TResult& result);

    // Calls by number (cli_call_commands.cpp).
    // Numbers a new call, makes it current unless it `waits`, and gives it
    // its recording file.
    int AdoptCall(const ISipCallPtr& call, bool waits = false);
    // A call the agent placed by itself (a transfer it was asked for) joins
    // the list when it is first heard of.
    void AdoptUnknownCall(const ISipCallPtr& call);
    void PrintBye(const ISipCallPtr& call);
    // Answers an incoming call and says so.
    void AnswerCall(const ISipCallPtr& call);
    void PrintAnswered(const ISipCallPtr& call);
    // A call placed: its progress lines until the far end is heard from.
    void WatchProgress(const ISipCallPtr& call);
    void OnReceivedText(const std::string& text);
    void ListCalls() const;
    // "hangup" or "hangup N"; a ringing incoming call is refused instead.
    void HangUpCommand(const std::string& argument);
    // "accept-transfer N" or "refuse-transfer N".
    void AnswerTransfer(const std::string& name, const std::string& argument);
    void RejectCall(const ISipCallPtr& call);
    // The speaker device of call `number`: a numbered file for a WAV name.
    int SpeakerDeviceFor(int number) const;
    // Runs a request to the account's server; an error names the server.
    template <typename Action>
    void TowardServer(Action&& action);

    // Leaving: hang up, unregister, then finish once both are confirmed or
    // after a bounded wait.
    void Quit();
    void CheckQuitDone();
    // The wait for the answers is over: every call left says its bye.
    void FinishQuit();

    const TCliOptions Options_;
    TSipClient Client_;
    ISipAccountPtr Account_;
    TCliCallList Calls_;
    bool Registered_ = false;
    // The account was taken off line on purpose (`unregister`, `quit`): its
    // end is not a loss.
    bool Unregistering_ = false;
    bool SoundPending_ = false;  // a sound was set and its wav-stopped not yet printed
    struct TWaitingCall {
        ISipCallPtr call;
        std::unique_ptr<QTimer> busyTimer;
    };
    std::map<int, TWaitingCall> Waiting_;  // by call number; each also in Calls_

    std::deque<std::optional<std::string>> Queue_;
    bool Paused_ = false;
    bool Quitting_ = false;
    QTimer PauseTimer_;
    QTimer QuitTimer_;
    // Last: destroyed (and joined) first, while the rest is still whole.
    std::unique_ptr<TSpeechWorker> Speech_ = MakeSpeechWorker();
};
