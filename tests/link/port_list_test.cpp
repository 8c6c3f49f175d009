#include <gtest/gtest.h>

#include <string>

#include "link/port_list.h"

namespace vok {
namespace {

TEST(PortList, TheFourNamesOfThePortTableInAnyCase) {
  const struct {
    const char* name;
    int index;  // -1: not a name of the table
  } kCases[] = {
      {"COM1", 0}, {"com4", 3}, {"Com2", 1}, {"cOM3", 2}, {"COM5", -1}, {"COM0", -1},
      {"COM", -1}, {"COM12", -1}, {"CON1", -1}, {"XCOM1", -1}, {"", -1}, {"/dev/COM1", -1},
  };
  for (const auto& c : kCases) {
    int index = -7;
    EXPECT_EQ(IsComName(c.name, index), c.index >= 0) << c.name;
    EXPECT_EQ(index, c.index >= 0 ? c.index : -7) << c.name;
  }
}

}  // namespace
}  // namespace vok
