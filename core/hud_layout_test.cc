#include <gtest/gtest.h>

#include <string>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "core/layout.h"
#include "testing/sandbox.h"

namespace {

// Fields in offset order, none overlapping the next, all inside the block;
// with `whole`, every byte belongs to a field.
void expect_tiled(const LayoutField* fields, size_t n, size_t size, bool whole) {
  size_t end = 0;
  for (size_t i = 0; i < n; i++) {
    const LayoutField& f = fields[i];
    if (whole) {
      EXPECT_EQ(f.offset, end) << f.name;
    } else {
      EXPECT_GE(f.offset, end) << f.name;
    }
    end = f.offset + layout_width(f);
    EXPECT_LE(end, size) << f.name;
    EXPECT_NE(std::string(f.meaning), "") << f.name;
    EXPECT_NE(std::string(f.writer), "") << f.name;
  }
  if (whole) {
    EXPECT_EQ(end, size);
  }
}

TEST(Layout, TablesTileTheirBlocks) {
  expect_tiled(kHudFields, kHudFieldCount, kHudSize, false);
  std::vector<LayoutField> config = config_layout();
  expect_tiled(config.data(), config.size(), sizeof(ConfigRecord), true);
}

TEST(Layout, DocumentIsCurrent) {
  std::string doc = test_read_file(std::string(PQW_SOURCE_DIR) + "/docs/hud-layout.md");
  EXPECT_EQ(doc, layout_markdown())
      << "docs/hud-layout.md is out of date: build/bin/pqw-hud --layout > docs/hud-layout.md";
}

}  // namespace
