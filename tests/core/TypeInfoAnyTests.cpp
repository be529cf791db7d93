// Type identity (Vorn::TypeInfo, RawTypeName, TypeKey) and VornAny.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vorn/core/Any.h"
#include "vorn/core/TypeInfo.h"
#include "vorn/host/SysLog.h"

namespace {

// Names and keys are usable at compile time.
static_assert(Vorn::RawTypeName<int>() == "int");
static_assert(Vorn::RawTypeName<double>() == "double");
static_assert(Vorn::TypeKey<int>() != 0);
static_assert(Vorn::TypeKey<int>() != Vorn::TypeKey<std::vector<int>>());
static_assert(Vorn::GetTypeInfo<bool>().key == Vorn::TypeKey<bool>());

// Gives write access to the stored value, as derived value classes have.
class MutableAny : public VornAny {
public:
  using VornAny::VornAny;
  template <class T>
  T& Mutable() {
    return *static_cast<T*>(_GetRaw()->GetValuePtr());
  }
};

TEST(VornAny, ValuesAreEqualOnlyWithTheSameTypeAndValue) {
  KRTAbendCapture capture;
  int x = 0, y = 0;
  using Ints = std::vector<int>;
  struct Case {
    VornAny a, b;
    bool equal;
  };
  const Case cases[] = {
      {1, 2, false},
      {true, 1, false},
      {1, 1.0, false},
      {2.5, 2.5, true},
      {Ints{1, 2}, Ints{1, 2}, true},
      {Ints{1, 2}, Ints{1, 3}, false},
      {Ints{1, 2}, Ints{1, 2, 3}, false},
      {Ints{1}, 1, false},
      {static_cast<void*>(&x), static_cast<void*>(&x), true},
      {static_cast<void*>(&x), static_cast<void*>(&y), false},
      {"abc", std::string("abc"), true},  // C strings are stored as std::string
      {"abc", "abd", false},
      {static_cast<const char*>(nullptr), std::string(), true},  // null: an empty one
      {VornAny(), VornAny(), true},
      {1, VornAny(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a.GetTypeName()) + " vs " + std::string(c.b.GetTypeName()));
    EXPECT_EQ(c.a == c.b, c.equal);
    EXPECT_EQ(c.b.IsEqualTo(&c.a), c.equal);
    EXPECT_EQ(c.a.IsEqualTo(std::make_shared<VornAny>(c.b)), c.equal);
  }
  const VornAny number(1);
  EXPECT_NE(number.GetTypeKey(), VornAny(Ints{1}).GetTypeKey());
  EXPECT_NE(number.GetTypeName(), VornAny(Ints{1}).GetTypeName());
  EXPECT_EQ(VornAny(static_cast<const char*>(nullptr)).GetTypeKey(), Vorn::TypeKey<std::string>());
  EXPECT_FALSE(number.IsEqualTo(static_cast<const VornAny*>(nullptr)));
  EXPECT_FALSE(number.IsEqualTo(std::shared_ptr<VornAny>()));
  EXPECT_TRUE(number.IsOfSameType(std::make_shared<VornAny>(2), true));
  // The right type gives the stored value itself.
  EXPECT_EQ(&number.GetRawValue<int>(), number.GetRawVoidPtr());
  EXPECT_EQ(capture.Count(), 0u);
}

TEST(VornAny, CopiesAreIndependentAndMovesAndSwapsHandTheStoredValueOver) {
  using Ints = std::vector<int>;
  MutableAny original(Ints{1, 2});
  MutableAny copy(original);
  copy.Mutable<Ints>().push_back(3);
  MutableAny assigned;
  assigned = original;
  assigned.Mutable<Ints>().clear();
  MutableAny& alias = original;
  original = alias;
  EXPECT_EQ(original.GetRawValue<Ints>(), (Ints{1, 2}));
  EXPECT_EQ(copy.GetRawValue<Ints>(), (Ints{1, 2, 3}));
  const VornAny viaCopy = VornAny::Copy(original);
  EXPECT_TRUE(viaCopy == original);
  EXPECT_NE(viaCopy.GetRawVoidPtr(), original.GetRawVoidPtr());
  const VornAny empty;
  EXPECT_FALSE(VornAny(empty).HasRawValue());

  const void* stored = original.GetRawVoidPtr();
  VornAny moved(std::move(original));
  EXPECT_FALSE(original.HasRawValue());
  EXPECT_EQ(moved.GetRawVoidPtr(), stored);
  VornAny target(5);
  target = std::move(moved);
  EXPECT_FALSE(moved.HasRawValue());
  EXPECT_EQ(target.GetRawVoidPtr(), stored);
  VornAny other(5);
  target.Swap(other);
  EXPECT_EQ(target.GetRawValue<int>(), 5);
  EXPECT_EQ(other.GetRawVoidPtr(), stored);
  VornAny none;
  target.Swap(none);
  EXPECT_FALSE(target.HasRawValue());
  EXPECT_EQ(none.GetRawValue<int>(), 5);

  other.Reset();
  EXPECT_FALSE(other.HasRawValue());
  EXPECT_EQ(other.GetTypeKey(), 0u);
  other.Reset();
  EXPECT_TRUE(other == VornAny());
}

}  // namespace
