// TJitterBuffer: the four-slot reorder buffer of a call's receive path. Used
// by the RTP receive thread only,
// so it takes no lock; it works in its four fixed slots and allocates nothing.
#pragma once

#include <array>
#include <cstdint>

namespace media {

class TJitterBuffer {
public:
    static constexpr int kSlotCount = 4;
    static constexpr int kSlotBytes = 1024;

    // Offers a frame of `length` bytes (cut to kSlotBytes; 0 or less is not
    // stored) with the packet's sequence number.
    void Put(const uint8_t* frame, int length, int32_t sequenceNumber);
    // Takes the next frame out into `out` (kSlotBytes at least); false when
    // nothing is due.
    bool Get(uint8_t* out, int& length);

    int32_t LastPutLength() const { return LastPutLength_; }
    int32_t LastPlayed() const { return LastPlayed_; }
    int StoredCount() const;

private:
    struct TSlot {
        int32_t sequenceNumber = 0;
        int32_t length = 0;  // 0: empty
        std::array<uint8_t, kSlotBytes> data{};
    };
    void Store(TSlot& slot, const uint8_t* frame, int length, int32_t sequenceNumber);
    bool Holds(int32_t sequenceNumber) const;
    void ClearAll();

    int32_t LastPutLength_ = 0;
    int32_t LastPlayed_ = 0;  // 0: none yet
    std::array<TSlot, kSlotCount> Slots_{};
};

}  // namespace media
