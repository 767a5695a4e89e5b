#include "media/jitter_buffer.h"

#include <algorithm>
#include <cstring>

namespace media {

void TJitterBuffer::Store(TSlot& slot, const uint8_t* frame, int length, int32_t sequenceNumber) {
    const int bounded = std::clamp(length, 0, kSlotBytes);
    slot.sequenceNumber = sequenceNumber;
    slot.length = bounded;
    if (bounded > 0)
        std::memcpy(slot.data.data(), frame, static_cast<std::size_t>(bounded));
}

bool TJitterBuffer::Holds(int32_t sequenceNumber) const {
    return std::any_of(Slots_.begin(), Slots_.end(), [&](const TSlot& slot) {
        return slot.length != 0 && slot.sequenceNumber == sequenceNumber;
    });
}

void TJitterBuffer::ClearAll() {
    for (TSlot& slot : Slots_)
        slot.length = 0;
}

int TJitterBuffer::StoredCount() const {
    return static_cast<int>(
        std::count_if(Slots_.begin(), Slots_.end(), [](const TSlot& slot) { return slot.length != 0; }));
}

void TJitterBuffer::Put(const uint8_t* frame, int length, int32_t s) {
    LastPutLength_ = length;
    // A frame of no bytes would be an empty slot: nothing to keep.
    if (length <= 0)
        return;
    // The sender restarted or the 16-bit counter wrapped.
    if (s < LastPlayed_ && LastPlayed_ - s > 10) {
        LastPlayed_ = 0;
        ClearAll();
        Store(Slots_[0], frame, length, s);
        return;
    }
    if (s <= LastPlayed_)
        return;  // late or duplicate
    if (LastPlayed_ == 0)
        LastPlayed_ = s - 1;
    if (StoredCount() == 0) {
        Store(Slots_[0], frame, length, s);
        LastPlayed_ = std::max(LastPlayed_, s - 4);
        return;
    }
    int32_t smallest = INT32_MAX;
    for (const TSlot& slot : Slots_) {
        if (slot.length != 0)
            smallest = std::min(smallest, slot.sequenceNumber);
    }
    for (TSlot& slot : Slots_) {
        if (slot.length != 0 && slot.sequenceNumber < s - 3)
            slot.length = 0;
    }
    LastPlayed_ = std::max(LastPlayed_, s - 4);
    if (Holds(s))
        return;
    if (StoredCount() == kSlotCount) {
        for (TSlot& slot : Slots_) {
            if (slot.sequenceNumber == smallest) {
                Store(slot, frame, length, s);
                return;
            }
        }
        return;
    }
    for (TSlot& slot : Slots_) {
        if (slot.length == 0) {
            Store(slot, frame, length, s);
            return;
        }
    }
}

bool TJitterBuffer::Get(uint8_t* out, int& length) {
    TSlot* next = nullptr;
    for (TSlot& slot : Slots_) {
        if (slot.length != 0 && (!next || slot.sequenceNumber < next->sequenceNumber))
            next = &slot;
    }
    if (!next)
        return false;
    if (StoredCount() < kSlotCount && LastPlayed_ != 0 && next->sequenceNumber != LastPlayed_ + 1)
        return false;
    length = next->length;
    std::memcpy(out, next->data.data(), static_cast<std::size_t>(length));
    next->length = 0;
    LastPlayed_ = next->sequenceNumber;
    return true;
}

}  // namespace media
