#include "link/byte_order.h"

#include <gtest/gtest.h>

#include <vector>

#include "link/address_text.h"

namespace vok {
namespace {

// Each value in both orders, high bits set so that a byte widened through a
// signed int would show.
TEST(ByteOrder, FieldsBothWays) {
  struct Case {
    uint32_t value;
    std::vector<uint8_t> big;
  };
  for (const Case& c : std::vector<Case>{{0x01020304, {0x01, 0x02, 0x03, 0x04}},
                                         {0xF1E2D3C4, {0xF1, 0xE2, 0xD3, 0xC4}},
                                         {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
                                         {0, {0, 0, 0, 0}}}) {
    SCOPED_TRACE(c.value);
    const std::vector<uint8_t> little(c.big.rbegin(), c.big.rend());
    const auto low = static_cast<uint16_t>(c.value);
    EXPECT_EQ(Be32(c.big.data()), c.value);
    EXPECT_EQ(Be16(c.big.data() + 2), low);
    EXPECT_EQ(Le32(little.data()), c.value);
    EXPECT_EQ(Le16(little.data()), low);

    uint8_t put[6] = {};
    EXPECT_EQ(PutBe16(PutBe32(put, c.value), low), put + 6);
    EXPECT_EQ(std::vector<uint8_t>(put, put + 4), c.big);
    EXPECT_EQ(std::vector<uint8_t>(put + 4, put + 6),
              std::vector<uint8_t>(c.big.begin() + 2, c.big.end()));

    std::vector<uint8_t> be, le;
    AppendBe32(be, c.value);
    AppendBe16(be, low);
    AppendLe32(le, c.value);
    AppendLe16(le, low);
    EXPECT_EQ(be, std::vector<uint8_t>(put, put + 6));
    EXPECT_EQ(std::vector<uint8_t>(le.begin(), le.begin() + 4), little);
    EXPECT_EQ(std::vector<uint8_t>(le.begin() + 4, le.end()),
              std::vector<uint8_t>(little.begin(), little.begin() + 2));
  }
}

TEST(AddressText, EightUpperCaseDigits) {
  EXPECT_EQ(AddressText(0), "0x00000000");
  EXPECT_EQ(AddressText(0x1F0ab), "0x0001F0AB");
  EXPECT_EQ(AddressText(0xFFFFFFFF), "0xFFFFFFFF");
}

}  // namespace
}  // namespace vok
