#include <gtest/gtest.h>

#include <cstring>

#include "link/crc16.h"

TEST(Crc16, MatchesThePublishedCheckValue)
{
    const char* check = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(check), std::strlen(check)), 0xBB3D);
    EXPECT_EQ(Crc16(nullptr, 0), 0);
}

TEST(Crc16, BlockFollowedByItsCrcLeavesZero)
{
    uint8_t block[10] = {0x10, 0x12, 0x02, 0x00, 0x10, 0x00, 0xDE, 0xAD};
    const uint16_t crc = Crc16(block, 8);
    block[8] = static_cast<uint8_t>(crc);
    block[9] = static_cast<uint8_t>(crc >> 8);
    EXPECT_EQ(Crc16(block, sizeof block), 0);
    // Continuing from a partial result equals one pass over the whole.
    EXPECT_EQ(Crc16(block + 4, 6, Crc16(block, 4)), 0);
}
