#include "core/config_fields.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// A row whose kind does not fit its field would write through the wrong
// member or not at all; a repeated name would hide a setting; a gap or a
// repeat in the report places would drop or reorder a member viewers read.
TEST(ConfigFields, RowsFitTheirFieldsAndNamesAreUnique) {
  std::set<std::string> keys, params, reports;
  std::set<int> places;
  int reported = 0;
  for (size_t i = 0; i < kConfigTableSize; i++) {
    const ConfigField& f = kConfigTable[i];
    SCOPED_TRACE(f.slot.member);
    ConfigType t = f.slot.type;
    switch (f.kind) {
      case ConfigKind::none:
        break;
      case ConfigKind::flag:
      case ConfigKind::byte:
        EXPECT_EQ(t, ConfigType::u8);
        break;
      case ConfigKind::integer:
      case ConfigKind::seconds:
        EXPECT_EQ(t, ConfigType::i32);
        break;
      case ConfigKind::text:
      case ConfigKind::quoted:
      case ConfigKind::map:
        EXPECT_EQ(t, ConfigType::text);
        break;
    }
    EXPECT_EQ(f.key != nullptr, f.kind != ConfigKind::none);
    if (f.key) {
      EXPECT_TRUE(keys.insert(f.key).second);
    }
    if (f.param) {
      EXPECT_TRUE(params.insert(f.param).second);
      EXPECT_NE(f.rule, ParamRule::none);
      EXPECT_TRUE(t == ConfigType::u8 || t == ConfigType::i32);
    }
    if (f.style != ReportStyle::none) {
      reported++;
      EXPECT_TRUE(reports.insert(f.report).second);
      EXPECT_TRUE(places.insert(f.report_pos).second);
      EXPECT_EQ(f.style == ReportStyle::number, t == ConfigType::u8 || t == ConfigType::i32);
    }
  }
  EXPECT_EQ(keys.size(), 48u);
  ASSERT_FALSE(places.empty());
  EXPECT_EQ(*places.begin(), 1);
  EXPECT_EQ(*places.rbegin(), reported);
}

}  // namespace
