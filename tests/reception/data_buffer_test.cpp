#include <gtest/gtest.h>

#include <vector>

#include "reception/data_buffer.h"

TEST(CDataBuffer, WriteThenReadBackWithIndependentPositions) {
    CDataBuffer b;
    const std::uint8_t in[] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(b.Write(in, 5));
    ASSERT_TRUE(b.WriteByte(6));
    EXPECT_EQ(b.Length(), 6);
    b.SetReadPos(0);
    std::uint8_t out[6] = {};
    ASSERT_TRUE(b.Read(out, 6));
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 5), std::vector<std::uint8_t>(in, in + 5));
    EXPECT_EQ(out[5], 6);
    EXPECT_EQ(b.ReadPos(), 6);
    EXPECT_EQ(b.Length(), 6);
    b.Reset();
    EXPECT_EQ(b.Length(), 0);
    EXPECT_EQ(b.ReadPos(), 0);
}

TEST(CDataBuffer, RefusesReadsPastLengthAndWritesPastCapacity) {
    CDataBuffer b;
    std::vector<std::uint8_t> big(CDataBuffer::kCapacity, 0xAB);
    std::uint8_t x = 0;
    EXPECT_FALSE(b.Read(&x, 1));
    EXPECT_EQ(b.ReadPos(), 0);
    ASSERT_TRUE(b.Write(big.data(), CDataBuffer::kCapacity - 1));
    EXPECT_FALSE(b.Write(big.data(), 2));
    EXPECT_EQ(b.Length(), CDataBuffer::kCapacity - 1);
    EXPECT_TRUE(b.WriteByte(1));
    EXPECT_FALSE(b.WriteByte(1));
    EXPECT_FALSE(b.Read(&x, -1));
    b.SetLength(5000);
    EXPECT_EQ(b.Length(), CDataBuffer::kCapacity);
    b.SetReadPos(CDataBuffer::kCapacity - 1);
    EXPECT_FALSE(b.Read(big.data(), 2));
    EXPECT_TRUE(b.Read(&x, 1));
}
