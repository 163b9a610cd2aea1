#include <gtest/gtest.h>

#include <vector>

#include "reception/data_buffer.h"

TEST(CDataBuffer, ReadsStayWithinTheLengthAndWritesWithinTheCapacity) {
    CDataBuffer b;
    std::uint8_t x = 0;
    EXPECT_FALSE(b.Read(&x, 1));
    std::vector<std::uint8_t> big(CDataBuffer::kCapacity, 0xAB);
    ASSERT_TRUE(b.Write(big.data(), CDataBuffer::kCapacity - 1));
    EXPECT_FALSE(b.Write(big.data(), 2));
    EXPECT_TRUE(b.WriteByte(1));
    EXPECT_FALSE(b.WriteByte(1));
    EXPECT_EQ(b.Length(), CDataBuffer::kCapacity);
    EXPECT_FALSE(b.Read(&x, -1));
    b.SetLength(5000);
    EXPECT_EQ(b.Length(), CDataBuffer::kCapacity);
    b.SetReadPos(CDataBuffer::kCapacity - 1);
    EXPECT_FALSE(b.Read(big.data(), 2));
    EXPECT_TRUE(b.Read(&x, 1));
    EXPECT_EQ(x, 1);
    b.Reset();
    EXPECT_EQ(b.Length() + b.ReadPos(), 0);
}
