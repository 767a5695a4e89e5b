// The calls softphone-cli knows, numbered 1, 2, ... in the order they
// appeared, so the operator can name any of them; the current call is the
// one commands act on when no number is given.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sip/sipints.h"

// What the agent has told or done about a call, for the lines still to come.
enum class TCallNote {
    kAnswered,     // `answered N` printed
    kCancelled,    // we gave it up before it was answered
    kTransferred,  // `transferred N` printed: that line ends it
    kProgress,     // the far end has answered the INVITE in some way
};

class TCliCallList {
public:
    // Numbers a new call and makes it the current one; returns its number.
    // A call that `waits` (offered while another is in progress) is numbered
    // but does not become current until MakeCurrent.
    int Add(ISipCallPtr call, bool waits = false);
    // Makes a known call the current one; it waits no longer.
    void MakeCurrent(const ISipCallPtr& call);
    bool Waits(const ISipCallPtr& call) const;
    // The number of a known call, 0 for a call not in the list.
    int NumberOf(const ISipCallPtr& call) const;
    // The call with `number`, or nothing.
    ISipCallPtr Find(int number) const;
    ISipCallPtr Current() const { return Current_; }
    // Forgets the call; when it was the current one, the most recent call
    // left that does not wait becomes current.
    void Remove(const ISipCallPtr& call);
    const std::vector<std::pair<int, ISipCallPtr>>& All() const { return Calls_; }
    bool Empty() const { return Calls_.empty(); }
    // Records `note` for a known call; false when it was noted already (or
    // the call is not known).
    bool Note(const ISipCallPtr& call, TCallNote note);
    bool Has(const ISipCallPtr& call, TCallNote note) const;
    // The number the next call will get.
    int NextNumber() const { return NextNumber_; }

private:
    std::vector<std::pair<int, ISipCallPtr>> Calls_;  // oldest first
    std::vector<ISipCallPtr> Waiting_;
    std::map<const ISipCall*, unsigned> Notes_;  // bit per TCallNote, known calls only
    ISipCallPtr Current_;
    int NextNumber_ = 1;
};

// "486 Busy Here" for a status text of "486": the code and the reason phrase
// of RFC 3261 when the text is a known three-digit code, else the text as is.
std::string StatusWithReason(const std::string& statusText);

// The word `calls` shows for a call state.
std::string CallStateName(TCallState state);

// The recording file of call `number` for a --speaker WAV name: the name
// itself for the first call, "NAME-N.wav" for call N after it, so a second
// call never overwrites the first one's recording.
std::string NumberedWavName(const std::string& fileName, int number);
