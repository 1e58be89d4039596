// The image ring: hand-over between writer and reader, order across the wrap, free count, frame
// rate and application buffers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "gvsp/image_ring.h"

namespace kavro::gvsp {
namespace {

using namespace std::chrono_literals;

struct Ring {
    explicit Ring(uint16_t count, std::vector<void*> user = {})
        : index(1000, 100), ring(ImageRing::create(count, index, user, counters)) {}
    frame::StreamCounters counters;
    PacketIndex index;
    std::unique_ptr<ImageRing> ring;
};

TEST(PacketIndex, LastPacketCarriesTheRest) {
    const PacketIndex index(1050, 100);
    ASSERT_EQ(index.packets(), 11u);
    EXPECT_EQ(index.offset(1), 0u);
    EXPECT_EQ(index.offset(11), 1000u);
    EXPECT_EQ(index.length(10), 100u);
    EXPECT_EQ(index.length(11), 50u);
    EXPECT_EQ(index.packetsFor(101), 2u);
    EXPECT_EQ(index.packetsFor(99999), 11u);
}

// One entry alternates between writer and reader; two blocks in progress never share a buffer,
// and the reader sees them in hand-over order.
TEST(ImageRing, EntriesGoToOneSideAtATimeInHandOverOrder) {
    Ring one(1);
    RingEntry* w = one.ring->acquireForWrite(0ms);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(one.ring->acquireForWrite(0ms), nullptr);
    EXPECT_EQ(one.ring->acquireForRead(0ms), nullptr);
    one.ring->handOver(w);
    RingEntry* rd = one.ring->acquireForRead(0ms);
    EXPECT_EQ(rd, w);
    EXPECT_EQ(one.ring->acquireForWrite(10ms), nullptr);
    EXPECT_TRUE(one.ring->release(rd));
    EXPECT_EQ(one.ring->acquireForWrite(0ms), w);

    Ring r(3);
    RingEntry* a = r.ring->acquireForWrite(0ms);
    RingEntry* b = r.ring->acquireForWrite(0ms);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a->data, b->data);
    r.ring->handOver(b);
    r.ring->handOver(a);
    EXPECT_EQ(r.ring->acquireForRead(0ms), b);
    EXPECT_EQ(r.ring->acquireForRead(0ms), a);
    EXPECT_FALSE(r.ring->release(r.ring->entry(2))) << "only an entry handed out is released";
    EXPECT_FALSE(r.ring->release(r.ring->entry(7)));
}

TEST(ImageRing, OrderHoldsAcrossTheWrapAndFreeCountFollows) {
    Ring r(4);
    EXPECT_EQ(r.ring->freeCount(), 4);
    std::vector<uint8_t> order;
    for (int round = 0; round < 3; ++round) {
        for (int k = 0; k < 3; ++k) {
            RingEntry* w = r.ring->acquireForWrite(0ms);
            ASSERT_NE(w, nullptr);
            w->blockId = static_cast<uint64_t>(round * 3 + k);
            r.ring->handOver(w);
        }
        EXPECT_EQ(r.ring->freeCount(), 1);
        for (int k = 0; k < 3; ++k) {
            RingEntry* rd = r.ring->acquireForRead(0ms);
            ASSERT_NE(rd, nullptr);
            EXPECT_EQ(rd->blockId, static_cast<uint64_t>(round * 3 + k));
            order.push_back(rd->index);
            r.ring->release(rd);
        }
    }
    EXPECT_EQ(order, (std::vector<uint8_t>{0, 1, 2, 3, 0, 1, 2, 3, 0}));
    for (int k = 0; k < 4; ++k)
        r.ring->handOver(r.ring->acquireForWrite(0ms));
    EXPECT_EQ(r.ring->freeCount(), 0);
}

// The writer's next entry takes over the free buffer given back last, which is still in the
// cache; entries keep their order and an entry being read its buffer.
TEST(ImageRing, WriterRefillsTheBufferGivenBackLast) {
    Ring r(5);
    std::vector<uint8_t*> written;
    for (int k = 0; k < 3; ++k) {
        RingEntry* w = r.ring->acquireForWrite(0ms);
        ASSERT_NE(w, nullptr);
        written.push_back(w->data);
        r.ring->handOver(w);
    }
    RingEntry* first = r.ring->acquireForRead(0ms);
    RingEntry* second = r.ring->acquireForRead(0ms);
    RingEntry* held = r.ring->acquireForRead(0ms);
    EXPECT_TRUE(r.ring->release(first));
    EXPECT_TRUE(r.ring->release(second));
    RingEntry* next = r.ring->acquireForWrite(0ms);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->index, 3);
    EXPECT_EQ(next->data, written[1]);
    EXPECT_EQ(held->data, written[2]);
    std::set<uint8_t*> buffers;
    for (size_t i = 0; i < 5; ++i)
        buffers.insert(r.ring->entry(i)->data);
    EXPECT_EQ(buffers.size(), 5u);
}

// Buffers left untouched for a user that writes every byte before reading any cost no memory
// until written: here 64 images of 8 MB.
TEST(ImageRing, UntouchedBuffersCostNoMemoryUntilWritten) {
    const auto resident = [] {
        long pages = 0;
        long residentPages = 0;
        std::ifstream("/proc/self/statm") >> pages >> residentPages;
        return residentPages * ::sysconf(_SC_PAGESIZE);
    };
    frame::StreamCounters counters;
    const PacketIndex index(8 << 20, 8192);
    const long before = resident();
    const auto ring = ImageRing::create(64, index, {}, counters, RingBuffers::Untouched);
    ASSERT_NE(ring, nullptr);
    EXPECT_LT(resident() - before, 64l << 20) << "bytes made resident by 512 MB of buffers";
}

// A writer waits for a free entry and a reader for a handed-over one, until their time-out or
// until the other side gives one.
TEST(ImageRing, WaitsEndAtTheirTimeOutOrWhenTheOtherSideActs) {
    Ring r(2);
    std::thread writer([&] {
        std::this_thread::sleep_for(30ms);
        r.ring->handOver(r.ring->acquireForWrite(0ms));
    });
    RingEntry* rd = r.ring->acquireForRead(2000ms);
    EXPECT_NE(rd, nullptr);
    writer.join();
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(r.ring->acquireForRead(50ms), nullptr);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 45ms);

    r.ring->handOver(r.ring->acquireForWrite(0ms));  // full: one entry read, one handed over
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(r.ring->acquireForWrite(40ms), nullptr);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 35ms);
    std::thread reader([&] {
        std::this_thread::sleep_for(20ms);
        r.ring->release(rd);
    });
    EXPECT_EQ(r.ring->acquireForWrite(1000ms), rd);
    reader.join();
}

TEST(ImageRing, FrameRateIsFirstComputedAfterOneSecond) {
    frame::StreamCounters c;
    c.fpsFrequency = 1000000000;
    c.fpsWindowStart = 5000000000ull;
    for (int k = 1; k < 25; ++k)
        recordHandOver(c, 5000000000ull + k * 40000000ull);
    EXPECT_EQ(c.fps.load(), 0.0);
    recordHandOver(c, 6000000000ull);
    EXPECT_DOUBLE_EQ(c.fps.load(), 25.0);
    EXPECT_EQ(c.fpsWindowFrames.load(), 0u);
    EXPECT_EQ(c.fpsWindowStart.load(), 6000000000ull);
}

TEST(ImageRing, RegisteredBuffersAreUsedInOrderAndNotFreed) {
    std::vector<std::vector<uint8_t>> storage(3, std::vector<uint8_t>(1000));
    std::vector<void*> user;
    for (auto& s : storage)
        user.push_back(s.data());
    {
        Ring r(9, user);
        ASSERT_EQ(r.ring->size(), 3);
        for (int k = 0; k < 6; ++k) {
            RingEntry* w = r.ring->acquireForWrite(0ms);
            EXPECT_EQ(w->data, storage[k % 3].data());
            r.ring->handOver(w);
            r.ring->release(r.ring->acquireForRead(0ms));
        }
    }
    storage[0][0] = 1;  // still ours (an address sanitizer build would object otherwise)
}

}  // namespace
}  // namespace kavro::gvsp
