// VornValue: construction, copy and move, type checks against a null other,
// and equality for every type the library stores in values.

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vorn/host/SysLog.h"
#include "vorn/values/Value.h"
#include "vorn/values/ValuesByString.h"

class VornModelObject;

namespace {

// Long enough that the string lives on the heap, so a copy that shared its
// buffer instead of cloning would show up.
const std::string kLongText = "a value long enough to leave the small-string buffer";

TEST(VornValueTypeCheck, NullOtherIsReportedOnlyWhenAsked) {
  KRTAbendCapture capture;
  VornValue v(1);
  const VornValue* null = nullptr;

  EXPECT_FALSE(v.IsOfSameType(null, false));
  EXPECT_EQ(capture.Count(), 0u);

  EXPECT_FALSE(v.IsOfSameType(null, true));
  ASSERT_EQ(capture.Count(), 1u);
  EXPECT_EQ(capture.Last(), "VornValue::IsOfSameType => Other value is null!");
}

TEST(VornValueEquality, EmptyValuesAreEqualOnlyToEachOther) {
  EXPECT_TRUE(VornValue() == VornValue());
  EXPECT_FALSE(VornValue() == VornValue(0));
  EXPECT_FALSE(VornValue(0) == VornValue());
}

VornValuesByString Record(std::initializer_list<std::pair<std::string, VornValue>> entries) {
  VornValuesByString table;
  for (const auto& [key, value] : entries) table.try_emplace(key, value);
  return table;
}

// For each stored type: a value, an equal one built separately, and a
// different one of the same type.
struct EqualityCase {
  const char* what;
  std::function<VornValue()> make;
  std::function<VornValue()> makeOther;
};

std::vector<EqualityCase> StoredTypeCases() {
  static int a = 0, b = 0;
  using Table = VornValuesByString;
  return {
      {"bool", [] { return VornValue(true); }, [] { return VornValue(false); }},
      {"int", [] { return VornValue(7); }, [] { return VornValue(-7); }},
      {"double", [] { return VornValue(0.5); }, [] { return VornValue(0.25); }},
      {"void*", [] { return VornValue(static_cast<void*>(&a)); }, [] { return VornValue(static_cast<void*>(&b)); }},
      {"std::string", [] { return VornValue(std::string(kLongText)); }, [] { return VornValue(std::string("x")); }},
      {"table", [] { return VornValue(Record({{"a", 1}, {"b", "x"}})); },
       [] { return VornValue(Record({{"a", 1}, {"b", "y"}})); }},
      {"vector<bool>", [] { return VornValue(std::vector<bool>{true, false}); },
       [] { return VornValue(std::vector<bool>{true, true}); }},
      {"vector<int>", [] { return VornValue(std::vector<int>{1, 2}); },
       [] { return VornValue(std::vector<int>{1, 2, 3}); }},
      {"vector<double>", [] { return VornValue(std::vector<double>{1.5}); },
       [] { return VornValue(std::vector<double>{2.5}); }},
      {"vector<nullptr_t>", [] { return VornValue(std::vector<std::nullptr_t>(2)); },
       [] { return VornValue(std::vector<std::nullptr_t>(3)); }},
      {"vector<void*>", [] { return VornValue(std::vector<void*>{&a, &b}); },
       [] { return VornValue(std::vector<void*>{&b, &a}); }},
      {"vector<string>", [] { return VornValue(std::vector<std::string>{"a", kLongText}); },
       [] { return VornValue(std::vector<std::string>{"a", "b"}); }},
      {"vector<table>", [] { return VornValue(std::vector<Table>{Record({{"k", 1}}), Record({})}); },
       [] { return VornValue(std::vector<Table>{Record({{"k", 2}}), Record({})}); }},
      {"vector<VornValue>", [] { return VornValue(std::vector<VornValue>{1, "s", VornValue(), 2.0}); },
       [] { return VornValue(std::vector<VornValue>{1, "s", VornValue(), 2}); }},
  };
}

TEST(VornValueEquality, EveryStoredTypeComparesByContent) {
  for (const EqualityCase& c : StoredTypeCases()) {
    SCOPED_TRACE(c.what);
    const VornValue v = c.make();
    const VornValue same = c.make();
    const VornValue other = c.makeOther();
    EXPECT_TRUE(v == same);
    EXPECT_TRUE(v.IsEqualTo(same));
    EXPECT_TRUE(v.IsOfSameType(other, false));
    EXPECT_FALSE(v == other);
    EXPECT_FALSE(other == v);
    EXPECT_TRUE(VornValue(v) == v);  // a copy is equal
  }
}

TEST(VornValueEquality, NullAndEmptyModelObjectPointersAreEqualToTheirKind) {
  EXPECT_TRUE(VornValue(nullptr) == VornValue(nullptr));
  EXPECT_TRUE(VornValue(std::shared_ptr<VornModelObject>()) == VornValue(std::shared_ptr<VornModelObject>()));
  EXPECT_FALSE(VornValue(static_cast<void*>(nullptr)) == VornValue(nullptr));
}

TEST(VornValueEquality, TablesIgnoreOrderButNotCountKeysOrValues) {
  const VornValue ab(Record({{"a", 1}, {"b", "x"}}));
  EXPECT_TRUE(ab == VornValue(Record({{"b", "x"}, {"a", 1}})));
  EXPECT_FALSE(ab == VornValue(Record({{"a", 1}})));                          // fewer entries
  EXPECT_FALSE(VornValue(Record({{"a", 1}})) == ab);                          // more entries
  EXPECT_FALSE(ab == VornValue(Record({{"a", 1}, {"b", "x"}, {"c", 2}})));    // a superset
  EXPECT_FALSE(ab == VornValue(Record({{"a", 1}, {"c", "x"}})));              // same count, other key
  EXPECT_FALSE(ab == VornValue(Record({{"a", 1.0}, {"b", "x"}})));            // same key, other type
  EXPECT_TRUE(VornValue(Record({})) == VornValue(VornValuesByString()));

  // Nested records compare recursively.
  const VornValue nested(Record({{"child", Record({{"list", std::vector<VornValue>{1, Record({{"z", true}})}}})}}));
  const VornValue nestedSame(Record({{"child", Record({{"list", std::vector<VornValue>{1, Record({{"z", true}})}}})}}));
  const VornValue nestedOther(
      Record({{"child", Record({{"list", std::vector<VornValue>{1, Record({{"z", false}})}}})}}));
  EXPECT_TRUE(nested == nestedSame);
  EXPECT_FALSE(nested == nestedOther);
}

TEST(VornValueEquality, TablesWithErasedEntriesStillCompareByContent) {
  // An erasure moves the last entry into the hole, so insertion order differs.
  VornValuesByString t = Record({{"a", 1}, {"b", 2}, {"c", 3}});
  t.erase(std::string("a"));
  EXPECT_TRUE(VornValue(t) == VornValue(Record({{"b", 2}, {"c", 3}})));
  EXPECT_FALSE(VornValue(t) == VornValue(Record({{"a", 1}, {"b", 2}, {"c", 3}})));
}

TEST(VornValueEquality, VectorsOfValuesCompareElementByElement) {
  using List = std::vector<VornValue>;
  EXPECT_TRUE(VornValue(List{}) == VornValue(List{}));
  EXPECT_FALSE(VornValue(List{1}) == VornValue(List{1.0}));
  EXPECT_FALSE(VornValue(List{1, 2}) == VornValue(List{2, 1}));
  EXPECT_FALSE(VornValue(List{1}) == VornValue(List{1, VornValue()}));
  EXPECT_TRUE(VornValue(List{VornValue()}) == VornValue(List{VornValue()}));
  EXPECT_FALSE(VornValue(List{VornValue()}) == VornValue(List{0}));
}

TEST(VornValueSp, SharesOneValue) {
  VornValue_sp none;
  EXPECT_FALSE(none);
  EXPECT_EQ(none.Get(), nullptr);

  VornValue_sp made = VornValue_sp::Make(VornValue(kLongText));
  ASSERT_TRUE(made);
  VornValue_sp copy = made;
  EXPECT_EQ(copy.Get(), made.Get());
  EXPECT_EQ(copy->GetRawValue<std::string>(), kLongText);
  EXPECT_EQ((*copy).GetRawValue<std::string>(), kLongText);

  copy.Reset();
  EXPECT_FALSE(copy);
  EXPECT_TRUE(made);
  EXPECT_EQ(made.Get().use_count(), 1);
}

}  // namespace
