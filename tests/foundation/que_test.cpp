#include "foundation/que.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<unsigned char> packet(uint32_t size, unsigned char fill)
{
    return std::vector<unsigned char>(size, fill);
}

class QueTest : public testing::Test {
protected:
    QK_QUE que;
    std::vector<unsigned char> out = std::vector<unsigned char>(QUE_ENTRY_SIZE);
};

TEST_F(QueTest, StartsEmptyWithTag)
{
    EXPECT_STREQ(que.tag, "QK_QUE");
    EXPECT_EQ(que.count, 0);
    EXPECT_EQ(sizeof(QueEntry), 30976u);
    EXPECT_EQ(que.deqEntry(out.data()), 0);
}

TEST_F(QueTest, SizeLimitIsOneSlot)
{
    auto full = packet(QUE_ENTRY_SIZE, 0xAB);
    EXPECT_EQ(que.enqEntry(QUE_ENTRY_SIZE, full.data()), 1);
    EXPECT_EQ(que.count, 1);

    auto over = packet(QUE_ENTRY_SIZE + 1, 0xCD);
    testing::internal::CaptureStdout();
    EXPECT_EQ(que.enqEntry(QUE_ENTRY_SIZE + 1, over.data()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ENQENTRY DATA_SIZE_OVER:size=30977\n");
    EXPECT_EQ(que.count, 1);

    ASSERT_EQ(que.deqEntry(out.data()), 1);
    EXPECT_EQ(out, full);
    EXPECT_EQ(que.deqEntry(out.data()), 0);
}

TEST_F(QueTest, ThirtyFitTheThirtyFirstWaitsForADequeue)
{
    unsigned char b = 0;
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(que.enqEntry(1, &b), 1) << i;
    EXPECT_EQ(que.count, 30);
    testing::internal::CaptureStdout();
    EXPECT_EQ(que.enqEntry(1, &b), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ENQUE ENTRY_OVER\n");
    EXPECT_EQ(que.count, 30);
    ASSERT_EQ(que.deqEntry(out.data()), 1);
    EXPECT_EQ(que.enqEntry(1, &b), 1);
    EXPECT_EQ(que.count, 30);
}

TEST_F(QueTest, OrderHoldsAcrossTheWrap)
{
    int next = 0, expected = 0;
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 17; ++i, ++next)
            ASSERT_EQ(que.enqEntry(sizeof next, &next), 1);
        for (int i = 0; i < 17; ++i, ++expected) {
            ASSERT_EQ(que.deqEntry(out.data()), 1);
            int got;
            std::memcpy(&got, out.data(), sizeof got);
            ASSERT_EQ(got, expected);
        }
    }
    EXPECT_GT(que.writeIndex, 0);
    EXPECT_LT(que.writeIndex, 30);
    EXPECT_EQ(que.count, 0);
}

TEST_F(QueTest, EmptyDequeueLeavesTheBufferAlone)
{
    std::fill(out.begin(), out.end(), 0x5A);
    EXPECT_EQ(que.deqEntry(out.data()), 0);
    for (unsigned char c : out)
        ASSERT_EQ(c, 0x5A);
}

TEST_F(QueTest, ShortPacketComesOutAloneBehindItTheBufferStays)
{
    auto longer = packet(1000, 0x11);
    auto shorter = packet(40, 0x22);
    // Fill every slot once with the long packet, then reuse slot 0.
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(que.enqEntry(1000, longer.data()), 1);
        ASSERT_EQ(que.deqEntry(out.data()), 1);
    }
    std::fill(out.begin(), out.end(), 0x5A);
    ASSERT_EQ(que.enqEntry(40, shorter.data()), 1);
    ASSERT_EQ(que.deqEntry(out.data()), 1);
    EXPECT_EQ(out[0], 0x22);
    EXPECT_EQ(out[39], 0x22);
    EXPECT_EQ(out[40], 0x5A);
    EXPECT_EQ(out[QUE_ENTRY_SIZE - 1], 0x5A);
}

TEST_F(QueTest, ResetDiscardsEverything)
{
    int v = 7;
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(que.enqEntry(sizeof v, &v), 1);
    ASSERT_EQ(que.deqEntry(out.data()), 1);
    testing::internal::CaptureStdout();
    que.reset();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "RESET QUE\n");
    EXPECT_EQ(que.count, 0);
    EXPECT_EQ(que.deqEntry(out.data()), 0);
    v = 9;
    ASSERT_EQ(que.enqEntry(sizeof v, &v), 1);
    EXPECT_EQ(que.writeIndex, 1) << "the next enqueue fills slot 0";
    ASSERT_EQ(que.deqEntry(out.data()), 1);
    int got;
    std::memcpy(&got, out.data(), sizeof got);
    EXPECT_EQ(got, 9);
}

TEST_F(QueTest, RefusesNullData)
{
    EXPECT_EQ(que.enqEntry(10, nullptr), 0);
    EXPECT_EQ(que.count, 0);
    EXPECT_EQ(que.enqEntry(0, nullptr), 1) << "an empty entry needs no data";
}

// A relay thread and the user-interface thread: 100,000 packets, each carrying
// its number and a pattern derived from it, pass with nothing lost, doubled or
// reordered. The producer reads count without the lock, as the relay does.
TEST(QueConcurrency, ProducerAndConsumerPass100000Packets)
{
    constexpr uint32_t total = 100000;
    QK_QUE que;
    std::atomic<bool> producerDone{false};
    struct Packet {
        uint32_t number;
        uint32_t length;
        unsigned char body[64];
    };
    std::thread producer([&] {
        Packet p {};
        for (uint32_t n = 0; n < total;) {
            if (que.count >= QUE_SLOT_COUNT) {
                std::this_thread::yield();
                continue;
            }
            p.number = n;
            p.length = 8 + n % 64;
            for (uint32_t i = 0; i < n % 64; ++i)
                p.body[i] = static_cast<unsigned char>(n + i);
            if (que.enqEntry(p.length, &p))
                ++n;
        }
        producerDone.store(true);
    });
    std::vector<unsigned char> out(QUE_ENTRY_SIZE);
    uint32_t received = 0, wrong = 0;
    while (received < total) {
        bool done = producerDone.load();
        if (!que.deqEntry(out.data())) {
            if (done)
                break; // nothing more can come
            std::this_thread::yield();
            continue;
        }
        Packet p;
        std::memcpy(&p, out.data(), sizeof p);
        bool intact = p.number == received && p.length == 8 + received % 64;
        for (uint32_t i = 0; intact && i < received % 64; ++i)
            intact = p.body[i] == static_cast<unsigned char>(received + i);
        if (!intact && wrong++ == 0)
            ADD_FAILURE() << "packet " << received << " arrived as " << p.number;
        ++received;
    }
    producer.join();
    EXPECT_EQ(received, total);
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(que.count, 0);
    EXPECT_EQ(que.deqEntry(out.data()), 0);
}

} // namespace
