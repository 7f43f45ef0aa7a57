#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/formats/io/ByteOrder.h"

namespace ozm {
namespace {

// The byte readers against numbers written out by hand, and the writers back.
TEST(ByteOrder, LoadsAndStoresBothOrders) {
    const std::uint8_t b[4] = {0x12, 0x34, 0x56, 0xF8};
    EXPECT_EQ(LoadLe16(b), 0x3412);
    EXPECT_EQ(LoadBe16(b), 0x1234);
    EXPECT_EQ(LoadLe32(b), 0xF8563412u);
    EXPECT_EQ(LoadBe32(b), 0x123456F8u);
    EXPECT_EQ(Load32(b, true), LoadLe32(b));
    EXPECT_EQ(Load16(b, false), LoadBe16(b));
    std::uint8_t out[4] = {};
    StoreLe32(out, 0xF8563412u);
    EXPECT_EQ(std::memcmp(out, b, 4), 0);
    LittleEndianWriter w;
    w.U16(0x3412);
    w.U32(0x0000F856);
    w.Text("II");
    EXPECT_EQ(w.Bytes(), (std::vector<std::uint8_t>{0x12, 0x34, 0x56, 0xF8, 0, 0, 'I', 'I'}));
}

}  // namespace
}  // namespace ozm
