#include "media/rtp_sender.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "media/call.h"
#include "media/telephone_event.h"

namespace media {

const std::array<int16_t, 160> kQuietFrame = {
    -8, -16, 0, -8, -8, -8, -8, 0, -8, 0, -8, -8, 0, 0, 0, 0, 0, 0, 0, -8,
    -16, 0, -8, -8, -8, -8, 0, -8, 0, 0, -8, -8, -8, 0, 0, -8, -8, -8, -8, 0,
    0, -8, -8, 0, 0, -8, 0, 0, 0, 0, -8, 0, 0, 0, 0, 0, 0, -8, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -8, -8, -8,
    8, 0, 0, 0, -8, 0, -8, 0, 0, -8, 0, -8, -8, 0, 0, 0, 0, 0, 0, 8,
    0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 8, 0, 0, 8, 0, 8, 8, 0, 0, 8, 0, 8, 0, 0, 0, -8, -8, 8, 0,
    0, 0, -8, 0, 0, 0, -8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
};

namespace {

constexpr std::size_t kHeaderSize = TRtpSendState::kHeaderSize;
constexpr std::size_t kPcmFrameBytes = 320;
constexpr std::size_t kEventPacketBytes = kHeaderSize + kTelephoneEventBytes;
constexpr uint8_t kMarker = 0x80;

void PutSequence(uint8_t* packet, int32_t sequenceNumber) {
    packet[2] = static_cast<uint8_t>(sequenceNumber >> 8);
    packet[3] = static_cast<uint8_t>(sequenceNumber);
}

void PutTimestamp(uint8_t* packet, uint32_t timestamp) {
    packet[4] = static_cast<uint8_t>(timestamp >> 24);
    packet[5] = static_cast<uint8_t>(timestamp >> 16);
    packet[6] = static_cast<uint8_t>(timestamp >> 8);
    packet[7] = static_cast<uint8_t>(timestamp);
}

uint32_t GetTimestamp(const uint8_t* packet) {
    return static_cast<uint32_t>(packet[4]) << 24 | static_cast<uint32_t>(packet[5]) << 16 |
           static_cast<uint32_t>(packet[6]) << 8 | packet[7];
}

}  // namespace

void TRtpSender::Transmit(TCall& call, std::size_t length) {
    TRtpSendState& state = call.RtpSendState();
    PutSequence(state.packet.data(), state.sequenceNumber);
    if (call.SendRtp(state.packet.data(), length))
        ++state.sequenceNumber;
}

void TRtpSender::SendPrepared(TCall& call) {
    TRtpSendState& state = call.RtpSendState();
    uint8_t* packet = state.packet.data();
    const std::size_t audioLength = kHeaderSize + static_cast<std::size_t>(state.payloadLength);
    const std::string queue = call.GetDtmfQueue();
    const int event = queue.empty() ? -1 : TelephoneEventOf(queue[0]);
    if (!queue.empty() && event < 0)
        call.DropQueuedDtmf();
    if (event < 0) {
        if (state.payloadLength == 0) {
            Paused_ = true;  // the codec left a silent frame out (DTX)
            return;
        }
        if (Paused_)
            packet[1] |= kMarker;
        Paused_ = false;
        Transmit(call, audioLength);
        return;
    }
    Paused_ = false;
    // The prepared audio packet becomes a telephone-event packet; every
    // packet of the digit keeps the first one's timestamp.
    const int sent = call.GetDtmfPacketCount();
    if (sent == 0)
        DigitTimestamp_ = GetTimestamp(packet);
    else
        PutTimestamp(packet, DigitTimestamp_);
    packet[1] = static_cast<uint8_t>(call.GetTelephoneEventTypes().send & 0x7F);
    const int number = sent + 1;
    WriteTelephoneEvent(packet + kHeaderSize, event, number);
    call.SetDtmfPacketCount(number);
    Transmit(call, kEventPacketBytes);
    if (number < kEventPacketsPerDigit)
        return;
    for (int copy = 0; copy < kEventEndCopies; ++copy)
        Transmit(call, kEventPacketBytes);
    call.SetDtmfPacketCount(0);
    call.DropQueuedDtmf();
}

void TRtpSender::SendFrame(TCall& call, const int16_t* pcm) {
    TRtpSendState& state = call.RtpSendState();
    uint8_t* packet = state.packet.data();
    const IAudioCodecPtr codec = call.GetCodec();  // a counted copy for this frame
    if (!codec) {
        packet[0] = 0;  // nothing can be encoded: nothing to send next time
        return;
    }
    packet[0] = 0x80;
    packet[1] = static_cast<uint8_t>(codec->GetPayloadType() & 0x7F);
    PutTimestamp(packet, static_cast<uint32_t>(state.timestamp));
    const uint32_t ssrc = call.GetSsrc();
    for (int index = 0; index < 4; ++index)
        packet[8 + index] = static_cast<uint8_t>(ssrc >> (8 * index));

    bool fromWav = false;
    if (const IWavFilePtr wav = call.GetWavFile()) {
        if (wav->GetSize() < wav->GetPosition() + static_cast<int64_t>(kPcmFrameBytes)) {
            // Stays set: repeats every frame until another source is set.
            if (const ISipEventHandlerPtr sink = call.GetEventSink())
                sink->WavStopped(call.shared_from_this());
            call.GetWavDoneEvent()->Set();
        } else {
            fromWav = wav->Read(Frame_.data(), static_cast<int>(kPcmFrameBytes)) == static_cast<int>(kPcmFrameBytes);
        }
    }
    std::memset(packet + kHeaderSize, 0, TRtpSendState::kMaxPayload);
    if (!fromWav) {
        if (call.GetMicrophoneEnabled())
            std::memcpy(Frame_.data(), pcm, kPcmFrameBytes);
        else
            Frame_ = kQuietFrame;
    }
    call.TapSentFrame(Frame_.data());

    // Every codec writes at most 160 bytes per frame (IAudioCodec), well
    // within the 1024-byte payload.
    state.payloadLength = codec->Encode(Frame_.data(), packet + kHeaderSize);
    state.payloadLength = std::clamp<int32_t>(state.payloadLength, 0, TRtpSendState::kMaxPayload);
    // Time goes on whether or not this frame is ever sent.
    state.timestamp += codec->GetFrameSize();
    // Sent at once: holding the packet until the next frame came would
    // add a whole frame to the mouth-to-ear delay.
    if (call.GetOnHold()) {
        Paused_ = true;
        packet[0] = 0;
        return;
    }
    SendPrepared(call);
}

}  // namespace media
