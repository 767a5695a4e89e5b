#include "media/call.h"

#include <chrono>
#include <ctime>
#include <random>

#include "sip/message.h"
#include "sip/transport.h"

namespace {

int RandomBelow(int bound) {
    thread_local std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<int>(0, bound - 1)(generator);
}

// Day number of 1970-01-01 when days count from 1899-12-30.
constexpr double kUnixEpochDays = 25569.0;

double LocalTimeAsDays() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto fraction = now - std::chrono::system_clock::from_time_t(seconds);
    const double exact = static_cast<double>(seconds + local.tm_gmtoff) +
                         std::chrono::duration<double>(fraction).count();
    return kUnixEpochDays + exact / 86400.0;
}

uint32_t SteadyTick() {
    const auto elapsed = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

}  // namespace

TCallClock SystemCallClock() {
    return TCallClock{SteadyTick, LocalTimeAsDays};
}

TCall::TCall(TCallSettings settings)
    : EventSink_(std::move(settings.eventSink)),
      Clock_(std::move(settings.clock)),
      MediaPath_(std::move(settings.mediaPath)),
      Dialog_(settings.callId.empty() ? NewHexId() : settings.callId, NewTag()),
      Branch_(NewBranch()),
      Account_(std::move(settings.account)),
      ReportInterval_(settings.reportInterval),
      SharedLoop_(std::move(settings.mediaLoop)),
      Ssrc_(static_cast<uint32_t>(RandomBelow(5000)) + Clock_.tick()),
      StartTime_(Clock_.now()),
      SdpSessionId_(1234 + RandomBelow(55000)),
      RingingEvent_(std::make_shared<TAutoResetEvent>()),
      SilenceEvent_(std::make_shared<TAutoResetEvent>()),
      DtmfEvent_(std::make_shared<TAutoResetEvent>()),
      AnsweredEvent_(std::make_shared<TAutoResetEvent>()),
      EndedEvent_(std::make_shared<TAutoResetEvent>()),
      WavDoneEvent_(std::make_shared<TAutoResetEvent>()) {}

TCall::~TCall() {
    // No counted reference to a dying call can be handed out, so the sink is
    // not asked to release the devices; the references simply go.
    if (MediaActive_)
        StopMedia(false);
}

std::string TCall::ReadText(const std::string& field) const {
    std::lock_guard<std::mutex> guard(TextLock_);
    return field;
}

void TCall::WriteText(std::string& field, const std::string& value) {
    std::lock_guard<std::mutex> guard(TextLock_);
    field = value;
}

TDigestUse TCall::GetDigestUse() {
    std::lock_guard<std::mutex> guard(TextLock_);
    return DigestUse_;
}

void TCall::SetDigestUse(const TDigestUse& value) {
    std::lock_guard<std::mutex> guard(TextLock_);
    DigestUse_ = value;
}

void TCall::SetState(TCallState value) {
    const TCallState previous = State_.exchange(value);
    if (previous != value && value == csIdle && EventSink_)
        EventSink_->Bye(shared_from_this());
    if (State_ == csIdle)
        EndedEvent_->Set();
}

ISipAccountPtr TCall::GetAccount() {
    std::lock_guard<std::mutex> guard(TextLock_);
    return Account_;
}

void TCall::SetAccount(ISipAccountPtr value) {
    std::lock_guard<std::mutex> guard(TextLock_);
    Account_ = std::move(value);
}

IAudioCodecPtr TCall::GetCodec() {
    std::lock_guard<std::mutex> guard(TextLock_);
    return Codec_;
}

void TCall::SetCodec(IAudioCodecPtr value) {
    std::lock_guard<std::mutex> guard(TextLock_);
    Codec_ = std::move(value);
}

std::vector<int> TCall::GetNegotiatedPayloadTypes() {
    std::lock_guard<std::mutex> guard(TextLock_);
    return NegotiatedPayloadTypes_;
}

void TCall::SetNegotiatedPayloadTypes(const std::vector<int>& value) {
    std::lock_guard<std::mutex> guard(TextLock_);
    NegotiatedPayloadTypes_ = value;
}

TTelephoneEventTypes TCall::GetTelephoneEventTypes() {
    std::lock_guard<std::mutex> guard(TextLock_);
    return TelephoneEventTypes_;
}

void TCall::SetTelephoneEventTypes(TTelephoneEventTypes value) {
    std::lock_guard<std::mutex> guard(TextLock_);
    TelephoneEventTypes_ = value;
}

// Telephone-event queue -------------------------------------------------------

void TCall::QueueDtmf(const std::string& digits) {
    std::lock_guard<std::recursive_mutex> guard(CallLock_);
    DtmfQueue_ += digits;
}

std::string TCall::GetDtmfQueue() {
    std::lock_guard<std::recursive_mutex> guard(CallLock_);
    return DtmfQueue_;
}

void TCall::DropQueuedDtmf() {
    std::lock_guard<std::recursive_mutex> guard(CallLock_);
    if (!DtmfQueue_.empty())
        DtmfQueue_.erase(0, 1);
}
