// VornNamedValues: lookups, in-place replacement and copying of the table.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vorn/values/NamedValues.h"

namespace {

std::vector<std::string> Names(const VornNamedValues& named) {
  std::vector<std::string> names;
  for (const auto& entry : named.GetValues()) names.push_back(entry.first);
  return names;
}

TEST(VornNamedValues, SetAppendsNewNamesInOrder) {
  VornNamedValues named;
  named.Set("b", 1);
  named.Set("a", "text");
  named.Set("c", 2.5);
  EXPECT_EQ(Names(named), (std::vector<std::string>{"b", "a", "c"}));
  ASSERT_NE(named.Get("a"), nullptr);
  EXPECT_EQ(named.Get("a")->GetRawValue<std::string>(), "text");
  EXPECT_EQ(named.Get("missing"), nullptr);
}

TEST(VornNamedValues, SetOnAnExistingNameReplacesInPlace) {
  VornNamedValues named;
  named.Set("first", 1);
  named.Set("second", 2);
  named.Set("third", 3);

  named.Set("second", std::string("now a string"));  // a different type is fine
  EXPECT_EQ(Names(named), (std::vector<std::string>{"first", "second", "third"}));
  EXPECT_EQ(named.GetValues().size(), 3u);
  ASSERT_NE(named.Get("second"), nullptr);
  EXPECT_EQ(*named.Get("second"), VornValue(std::string("now a string")));
  EXPECT_EQ(*named.Get("first"), VornValue(1));
  EXPECT_EQ(*named.Get("third"), VornValue(3));

  named.Set("second", VornValue());  // an empty value is stored, not an erasure
  ASSERT_NE(named.Get("second"), nullptr);
  EXPECT_FALSE(named.Get("second")->HasRawValue());
  EXPECT_EQ(named.GetValues().size(), 3u);
}

TEST(VornNamedValues, ConstructedFromATableCopiesItInItsOrder) {
  VornValuesByString table;
  table.try_emplace("x", 1);
  table.try_emplace("y", 2);
  table.try_emplace("z", 3);
  table.erase(std::string("x"));  // "z" moves into the hole: order is z, y

  VornNamedValues named(table);
  EXPECT_EQ(Names(named), (std::vector<std::string>{"z", "y"}));
  table.try_emplace("w", 4);
  table["y"] = VornValue(20);
  EXPECT_EQ(named.Get("w"), nullptr);
  EXPECT_EQ(*named.Get("y"), VornValue(2));
  EXPECT_EQ(named.Get("x"), nullptr);
}

}  // namespace
