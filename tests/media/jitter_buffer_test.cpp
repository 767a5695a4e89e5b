// TJitterBuffer sequences: order, loss, duplicates, late packets.
#include <gtest/gtest.h>

#include <vector>

#include "media/jitter_buffer.h"

using media::TJitterBuffer;

namespace {

void PutSeq(TJitterBuffer& buffer, int32_t sequenceNumber, int length = 320) {
    std::vector<uint8_t> frame(static_cast<size_t>(length), static_cast<uint8_t>(sequenceNumber));
    buffer.Put(frame.data(), length, sequenceNumber);
}

// The sequence number of the frame taken out, or -1 for nothing.
int Take(TJitterBuffer& buffer) {
    std::vector<uint8_t> out(TJitterBuffer::kSlotBytes);
    int length = 0;
    if (!buffer.Get(out.data(), length))
        return -1;
    return buffer.LastPlayed();
}

}  // namespace

TEST(JitterBuffer, EmptyYieldsNothing) {
    TJitterBuffer buffer;
    EXPECT_EQ(Take(buffer), -1);
}

TEST(JitterBuffer, InOrderFramesComeOutAtOnce) {
    TJitterBuffer buffer;
    for (int s = 100; s < 110; ++s) {
        PutSeq(buffer, s);
        EXPECT_EQ(Take(buffer), s);
        EXPECT_EQ(Take(buffer), -1);
    }
}

// By design, LastPlayed 0 means "none yet" and step 3 drops s <= LastPlayed:
// the very first packet of a sender (sequence number 0) is dropped, and
// playout starts with 1.
TEST(JitterBuffer, FirstFrameZeroIsDroppedAsWritten) {
    TJitterBuffer buffer;
    PutSeq(buffer, 0);
    EXPECT_EQ(Take(buffer), -1);
    PutSeq(buffer, 1);
    EXPECT_EQ(Take(buffer), 1);
    PutSeq(buffer, 2);
    EXPECT_EQ(Take(buffer), 2);
}

TEST(JitterBuffer, GapWaitsUntilFilledOrFull) {
    TJitterBuffer buffer;
    PutSeq(buffer, 10);
    PutSeq(buffer, 12);
    EXPECT_EQ(Take(buffer), 10);
    EXPECT_EQ(Take(buffer), -1);  // 11 missing
    PutSeq(buffer, 11);
    EXPECT_EQ(Take(buffer), 11);
    EXPECT_EQ(Take(buffer), 12);
}

TEST(JitterBuffer, GapIsSkippedWhenFourFramesWait) {
    TJitterBuffer buffer;
    PutSeq(buffer, 10);
    EXPECT_EQ(Take(buffer), 10);
    PutSeq(buffer, 12);
    PutSeq(buffer, 13);
    EXPECT_EQ(Take(buffer), -1);
    PutSeq(buffer, 14);
    EXPECT_EQ(Take(buffer), -1);
    PutSeq(buffer, 15);  // four stored: play on without 11
    EXPECT_EQ(buffer.StoredCount(), 4);
    EXPECT_EQ(Take(buffer), 12);
    EXPECT_EQ(Take(buffer), 13);
}

TEST(JitterBuffer, ReorderedFramesComeOutInOrder) {
    TJitterBuffer buffer;
    PutSeq(buffer, 20);
    EXPECT_EQ(Take(buffer), 20);
    PutSeq(buffer, 22);
    PutSeq(buffer, 21);
    EXPECT_EQ(Take(buffer), 21);
    EXPECT_EQ(Take(buffer), 22);
}

TEST(JitterBuffer, LateAndDuplicateFramesAreDropped) {
    TJitterBuffer buffer;
    PutSeq(buffer, 30);
    EXPECT_EQ(Take(buffer), 30);
    PutSeq(buffer, 30);  // duplicate of a played frame
    PutSeq(buffer, 25);  // late
    EXPECT_EQ(Take(buffer), -1);
    PutSeq(buffer, 32);
    PutSeq(buffer, 32);  // duplicate of a stored frame
    EXPECT_EQ(buffer.StoredCount(), 1);
}

TEST(JitterBuffer, WrapResetsAndPlaysTheNewFrameNext) {
    TJitterBuffer buffer;
    PutSeq(buffer, 65530);
    EXPECT_EQ(Take(buffer), 65530);
    PutSeq(buffer, 3);
    EXPECT_EQ(buffer.LastPlayed(), 0);
    EXPECT_EQ(Take(buffer), 3);
    PutSeq(buffer, 4);
    EXPECT_EQ(Take(buffer), 4);
}

TEST(JitterBuffer, FarAheadFrameClearsOldEntriesAndMovesOn) {
    TJitterBuffer buffer;
    PutSeq(buffer, 40);
    EXPECT_EQ(Take(buffer), 40);
    PutSeq(buffer, 42);
    PutSeq(buffer, 50);  // 42 < 50 - 3: cleared; LastPlayed becomes 46
    EXPECT_EQ(buffer.StoredCount(), 1);
    EXPECT_EQ(buffer.LastPlayed(), 46);
    EXPECT_EQ(Take(buffer), -1);  // waits for 47
    PutSeq(buffer, 47);
    EXPECT_EQ(Take(buffer), 47);
}

TEST(JitterBuffer, FullBufferOverwritesTheOldestNeverRefuses) {
    TJitterBuffer buffer;
    PutSeq(buffer, 1);
    PutSeq(buffer, 2);
    PutSeq(buffer, 3);
    PutSeq(buffer, 4);
    EXPECT_EQ(buffer.StoredCount(), 4);
    PutSeq(buffer, 5);  // 1 < 5 - 3 is cleared; stored in the empty slot
    EXPECT_EQ(buffer.StoredCount(), 4);
    EXPECT_EQ(Take(buffer), 2);
}

TEST(JitterBuffer, LengthIsKeptAndBounded) {
    TJitterBuffer buffer;
    std::vector<uint8_t> big(2000, 7);
    buffer.Put(big.data(), 1000, 5);
    EXPECT_EQ(buffer.LastPutLength(), 1000);
    std::vector<uint8_t> out(TJitterBuffer::kSlotBytes, 0);
    int length = 0;
    ASSERT_TRUE(buffer.Get(out.data(), length));
    EXPECT_EQ(length, 1000);
    EXPECT_EQ(out[999], 7);
    // Longer than a slot: cut to the slot, never written past it.
    buffer.Put(big.data(), 2000, 6);
    ASSERT_TRUE(buffer.Get(out.data(), length));
    EXPECT_EQ(length, TJitterBuffer::kSlotBytes);
}
