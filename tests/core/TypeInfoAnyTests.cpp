// Type identity (Vorn::TypeInfo, RawTypeName, TypeKey) and VornAny.

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "vorn/core/Any.h"
#include "vorn/core/TypeInfo.h"
#include "vorn/host/SysLog.h"

namespace {

// --- type identity ------------------------------------------------------------------

// Names and keys are usable at compile time.
static_assert(Vorn::RawTypeName<int>() == "int");
static_assert(Vorn::RawTypeName<double>() == "double");
static_assert(Vorn::TypeKey<int>() != 0);
static_assert(Vorn::TypeKey<int>() != Vorn::TypeKey<std::vector<int>>());
static_assert(Vorn::GetTypeInfo<bool>().key == Vorn::TypeKey<bool>());

// --- VornAny ---------------------------------------------------------------------------

// Gives write access to the stored value, as derived value classes have.
class MutableAny : public VornAny {
public:
  using VornAny::VornAny;
  template <class T>
  T& Mutable() {
    return *static_cast<T*>(_GetRaw()->GetValuePtr());
  }
};

TEST(VornAny, CStringsAreStoredAsStdStringAndNullGivesAnEmptyOne) {
  const VornAny fromNull(static_cast<const char*>(nullptr));
  ASSERT_TRUE(fromNull.HasRawValue());
  EXPECT_EQ(fromNull.GetTypeKey(), Vorn::TypeKey<std::string>());
  EXPECT_EQ(fromNull.GetRawValue<std::string>(), "");
  EXPECT_TRUE(fromNull == VornAny(std::string()));

  const VornAny text("abc");
  EXPECT_EQ(text.GetRawValue<std::string>(), "abc");
  // Strings compare by content, not by buffer.
  EXPECT_TRUE(text == VornAny(std::string("abc")));
  EXPECT_FALSE(text == VornAny("abd"));
}

TEST(VornAny, ValuesOfDifferentTypesDiffer) {
  KRTAbendCapture capture;
  const VornAny number(1);
  const VornAny vector(std::vector<int>{1});
  EXPECT_NE(number.GetTypeKey(), vector.GetTypeKey());
  EXPECT_NE(number.GetTypeName(), vector.GetTypeName());
  EXPECT_FALSE(number.IsEqualTo(vector));
  EXPECT_FALSE(VornAny(true) == VornAny(1));
  EXPECT_FALSE(VornAny(1) == VornAny(1.0));

  EXPECT_FALSE(number.IsEqualTo(static_cast<const VornAny*>(nullptr)));
  EXPECT_FALSE(number.IsEqualTo(std::shared_ptr<VornAny>()));
  EXPECT_TRUE(number.IsEqualTo(std::make_shared<VornAny>(1)));
  EXPECT_TRUE(number.IsOfSameType(std::make_shared<VornAny>(2), true));
  // The right type gives the stored value itself.
  EXPECT_EQ(&number.GetRawValue<int>(), number.GetRawVoidPtr());
  EXPECT_EQ(capture.Count(), 0u);
}

TEST(VornAny, ValuesOfTheSameTypeCompareByValue) {
  KRTAbendCapture capture;
  EXPECT_TRUE(VornAny(1).IsOfSameType(VornAny(2), true));
  EXPECT_FALSE(VornAny(1) == VornAny(2));
  EXPECT_TRUE(VornAny(2.5) == VornAny(2.5));
  EXPECT_TRUE(VornAny(std::vector<int>{1, 2}) == VornAny(std::vector<int>{1, 2}));
  EXPECT_FALSE(VornAny(std::vector<int>{1, 2}) == VornAny(std::vector<int>{1, 3}));
  EXPECT_FALSE(VornAny(std::vector<int>{1, 2}) == VornAny(std::vector<int>{1, 2, 3}));
  int x = 0, y = 0;
  EXPECT_TRUE(VornAny(static_cast<void*>(&x)) == VornAny(static_cast<void*>(&x)));
  EXPECT_FALSE(VornAny(static_cast<void*>(&x)) == VornAny(static_cast<void*>(&y)));
  EXPECT_EQ(capture.Count(), 0u);
}

TEST(VornAny, CopiesAreIndependent) {
  MutableAny original(std::vector<int>{1, 2});
  MutableAny copy(original);
  copy.Mutable<std::vector<int>>().push_back(3);
  EXPECT_EQ(original.GetRawValue<std::vector<int>>(), (std::vector<int>{1, 2}));
  EXPECT_EQ(copy.GetRawValue<std::vector<int>>(), (std::vector<int>{1, 2, 3}));

  MutableAny assigned;
  assigned = original;
  assigned.Mutable<std::vector<int>>().clear();
  EXPECT_EQ(original.GetRawValue<std::vector<int>>().size(), 2u);

  const VornAny viaCopy = VornAny::Copy(original);
  EXPECT_TRUE(viaCopy == original);
  EXPECT_NE(viaCopy.GetRawVoidPtr(), original.GetRawVoidPtr());

  MutableAny& alias = original;
  original = alias;
  EXPECT_EQ(original.GetRawValue<std::vector<int>>(), (std::vector<int>{1, 2}));

  const VornAny emptySource;
  const VornAny emptyCopy(emptySource);
  EXPECT_FALSE(emptyCopy.HasRawValue());
}

TEST(VornAny, MoveSwapAndReset) {
  VornAny source(std::string("text"));
  const void* stored = source.GetRawVoidPtr();
  VornAny moved(std::move(source));
  EXPECT_FALSE(source.HasRawValue());
  EXPECT_EQ(moved.GetRawVoidPtr(), stored);

  VornAny target(5);
  target = std::move(moved);
  EXPECT_FALSE(moved.HasRawValue());
  EXPECT_EQ(target.GetRawValue<std::string>(), "text");

  VornAny other(5);
  target.Swap(other);
  EXPECT_EQ(target.GetRawValue<int>(), 5);
  EXPECT_EQ(other.GetRawValue<std::string>(), "text");
  VornAny empty;
  target.Swap(empty);
  EXPECT_FALSE(target.HasRawValue());
  EXPECT_EQ(empty.GetRawValue<int>(), 5);

  other.Reset();
  EXPECT_FALSE(other.HasRawValue());
  EXPECT_EQ(other.GetTypeKey(), 0u);
  other.Reset();
  EXPECT_TRUE(other == VornAny());
}

}  // namespace
