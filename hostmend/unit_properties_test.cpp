#include "unit_properties.h"

#include <gtest/gtest.h>

namespace {

struct BlocksCase {
  const char* name;
  std::string text;
  std::vector<UnitProperties> blocks;
};

TEST(UnitProperties, SplitsTheBlocksByPosition) {
  const std::vector<BlocksCase> cases = {
      {"nothing", "", {}},
      {"one block",
       "LoadState=loaded\nNRestarts=0\n",
       {{{"LoadState", "loaded"}, {"NRestarts", "0"}}}},
      {"two blocks, the last without its newline",
       "LoadState=loaded\n\nLoadState=not-found",
       {{{"LoadState", "loaded"}}, {{"LoadState", "not-found"}}}},
      {"empty values, a value holding '='",
       "InvocationID=\nActiveEnterTimestamp=\nX=a=b\n",
       {{{"InvocationID", ""}, {"ActiveEnterTimestamp", ""}, {"X", "a=b"}}}},
      // A unit that printed nothing keeps its place.
      {"an empty block in the middle",
       "LoadState=loaded\n\n\nLoadState=masked\n",
       {{{"LoadState", "loaded"}}, {}, {{"LoadState", "masked"}}}},
      {"a trailing empty line is one more block",
       "LoadState=loaded\n\n",
       {{{"LoadState", "loaded"}}, {}}},
      {"a property printed twice keeps its first value",
       "SubState=dead\nSubState=running\n",
       {{{"SubState", "dead"}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parseShowBlocks(c.text), c.blocks);
  }
}

struct DownCase {
  std::string load;
  std::string active;
  std::string enabled;
  bool down;
};

TEST(UnitProperties, TellsWhichUnitsAreDown) {
  const std::vector<DownCase> cases = {
      {"loaded", "active", "enabled", false},       {"loaded", "failed", "enabled", true},
      {"loaded", "failed", "disabled", true},       {"loaded", "inactive", "enabled", true},
      {"loaded", "inactive", "static", true},       {"loaded", "inactive", "generated", true},
      {"loaded", "inactive", "disabled", false},    {"loaded", "inactive", "masked", false},
      {"loaded", "activating", "enabled", false},   {"loaded", "deactivating", "enabled", false},
      {"loaded", "reloading", "enabled", false},    {"not-found", "inactive", "", false},
      {"not-found", "failed", "", false},           {"masked", "inactive", "masked", false},
      {"masked", "failed", "masked", false},        {"error", "inactive", "", true},
      {"bad-setting", "inactive", "enabled", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.load + " " + c.active + " " + c.enabled);
    EXPECT_EQ(
        isDown({{"LoadState", c.load}, {"ActiveState", c.active}, {"UnitFileState", c.enabled}}),
        c.down);
  }
}

}  // namespace
