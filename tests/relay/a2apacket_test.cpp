// The packet header's wire image.
#include "relay/a2apacket.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<unsigned char> bytesOf(const A2aPacketHeader& h)
{
    std::vector<unsigned char> b(sizeof h);
    writeA2aHeader(b.data(), h);
    return b;
}

uint16_t u16At(const std::vector<unsigned char>& b, size_t at)
{
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

TEST(A2aPacket, KeepAliveIsFortyBytesWithTheMarkerAndZerosElsewhere)
{
    A2aPacketHeader h = makeA2aHeader();
    h.mainLinkState = 2;
    h.mainLinkFree = 30;
    h.sequence = 0x01020304;
    auto b = bytesOf(h);
    ASSERT_EQ(b.size(), 40u);
    const std::vector<unsigned char> expected = {
        40, 0, 0, 0, 2, 0, 1, 0,   // headerSize, payloadSize, marker
        0, 0, 0, 0, 0, 0, 0, 0,    // port, kind, code, flowFlags
        0, 0, 0, 0, 2, 0, 30, 0,   // repCode, errorCode, mainLinkState, mainLinkFree
        0, 0, 0, 0, 4, 3, 2, 1,    // dataLinkState, dataLinkFree, sequence
        0, 0, 0, 0, 0, 0, 0, 0};   // connectionId, mainLinkTaken, dataLinkTaken
    EXPECT_EQ(b, expected);
}

TEST(A2aPacket, ConnectionIdTakesTheFirstFourOfTheOnceReservedBytes)
{
    A2aPacketHeader h = makeA2aHeader();
    h.connectionId = 0x0a0b0c0d;
    auto b = bytesOf(h);
    EXPECT_EQ(std::vector<unsigned char>(b.begin() + 32, b.end()),
              (std::vector<unsigned char>{0x0d, 0x0c, 0x0b, 0x0a, 0, 0, 0, 0}));
    EXPECT_EQ(u16At(b, 14), 0); // flowFlags stay 0
}

TEST(A2aPacket, ConnectReplyNgReadsFromOffsetEight)
{
    A2aPacketHeader h = makeA2aHeader();
    h.port = 80;
    h.kind = KIND_CONTROL;
    h.code = CONNECT_REPLY;
    h.repCode = CONNECT_NG;
    h.errorCode = 10061;
    auto b = bytesOf(h);
    EXPECT_EQ(u16At(b, 8), 80);
    EXPECT_EQ(u16At(b, 10), 1);
    EXPECT_EQ(u16At(b, 12), 2);
    EXPECT_EQ(u16At(b, 14), 0);
    EXPECT_EQ(u16At(b, 16), 2);
    EXPECT_EQ(u16At(b, 18), 10061);
    // Read back from bytes.
    A2aPacketHeader r = readA2aHeader(b.data());
    EXPECT_EQ(r.errorCode, 10061);
    EXPECT_EQ(r.marker[0] | (r.marker[1] << 16), 0x10002);
}

TEST(A2aPacket, KindsCodesAndLimits)
{
    EXPECT_EQ(KIND_NULL, 0);
    EXPECT_EQ(KIND_CONTROL, 1);
    EXPECT_EQ(KIND_DLINK_CONTROL, 2);
    EXPECT_EQ(KIND_DATA, 3);
    EXPECT_EQ(KIND_DLINK_DATA, 4);
    EXPECT_EQ(CONNECT_REQUEST, 1);
    EXPECT_EQ(CONNECT_REPLY, 2);
    EXPECT_EQ(DISCONNECT_REQUEST, 3);
    EXPECT_EQ(CONNECT_OK, 1);
    EXPECT_EQ(CONNECT_NG, 2);
    EXPECT_EQ(A2A_HEADER_SIZE + A2A_MAX_PAYLOAD, 10280);
}

} // namespace
