// Type identity (Vorn::TypeInfo, RawTypeName, TypeKey) and the type-erased
// holders built on it: VornAny and Vorn::Function.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vorn/core/Any.h"
#include "vorn/core/Function.h"
#include "vorn/core/TypeInfo.h"
#include "vorn/host/SysLog.h"

namespace {

using Ints = std::vector<int>;

// Names and keys are usable at compile time.
static_assert(Vorn::RawTypeName<int>() == "int");
static_assert(Vorn::TypeKey<int>() != 0);
static_assert(Vorn::TypeKey<int>() != Vorn::TypeKey<Ints>());
static_assert(Vorn::GetTypeInfo<bool>().key == Vorn::TypeKey<bool>());

TEST(VornAny, ValuesAreEqualOnlyWithTheSameTypeAndValue) {
  KRTAbendCapture capture;
  int x = 0, y = 0;
  struct Case {
    VornAny a, b;
    bool equal;
  };
  const Case cases[] = {
      {1, 2, false}, {1, 1.0, false}, {2.5, 2.5, true}, {VornAny(), VornAny(), true}, {1, VornAny(), false},
      {Ints{1, 2}, Ints{1, 2}, true}, {Ints{1, 2}, Ints{1, 3}, false}, {Ints{1}, 1, false},
      {static_cast<void*>(&x), static_cast<void*>(&x), true}, {static_cast<void*>(&x), static_cast<void*>(&y), false},
      {"abc", std::string("abc"), true},  // C strings are stored as std::string
      {static_cast<const char*>(nullptr), std::string(), true},  // null: an empty one
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a.GetTypeName()) + " vs " + std::string(c.b.GetTypeName()));
    EXPECT_EQ(c.a == c.b, c.equal);
    EXPECT_EQ(c.b.IsEqualTo(&c.a), c.equal);
    EXPECT_EQ(c.a.IsEqualTo(std::make_shared<VornAny>(c.b)), c.equal);
  }
  const VornAny number(1);
  EXPECT_FALSE(number.IsEqualTo(static_cast<const VornAny*>(nullptr)));
  EXPECT_FALSE(number.IsEqualTo(std::shared_ptr<VornAny>()));
  EXPECT_TRUE(number.IsOfSameType(std::make_shared<VornAny>(2), true));
  // The right type gives the stored value itself.
  EXPECT_EQ(&number.GetRawValue<int>(), number.GetRawVoidPtr());
  EXPECT_EQ(capture.Count(), 0u);
}

int Twice(int x) { return 2 * x; }

struct Counter {
  int Add(int n) { return total += n; }
  int total = 0;
};

// A bound method is stored inline; a callable holding a shared_ptr is not
// trivially copyable and goes on the heap, where the use count tells how many
// copies of it are alive.
TEST(Function, CopiesAreIndependentMovesEmptyTheSourceAndStoredCallablesGoExactly) {
  const Vorn::Function<int(int)> fromNullPointer(static_cast<int (*)(int)>(nullptr));
  EXPECT_FALSE(fromNullPointer);
  EXPECT_EQ(fromNullPointer.GetTargetTypeInfo().key, 0u);
  Counter counter;
  auto bound = Vorn::Function<int(int)>::Bind(&counter, &Counter::Add);
  Vorn::Function<int(int)> boundCopy(bound);
  EXPECT_EQ(boundCopy(2), 2);
  Vorn::Function<int(int)> boundMoved(std::move(bound));
  EXPECT_TRUE(bound.IsEmpty());
  EXPECT_EQ(boundMoved(3), 5);  // every copy calls the one object

  const auto base = std::make_shared<int>(10);
  {
    auto callable = [base](int x) { return *base + x; };
    Vorn::Function<int(int)> f(callable);
    EXPECT_EQ(f.GetTargetTypeInfo().key, Vorn::TypeKey<decltype(callable)>());
    Vorn::Function<int(int)> moved(std::move(f));
    EXPECT_TRUE(f.IsEmpty());
    EXPECT_EQ(base.use_count(), 3);  // moving copies nothing
    Vorn::Function<int(int)> copy(moved);
    EXPECT_EQ(base.use_count(), 4);
    copy = moved;  // the previous copy goes
    Vorn::Function<int(int)>& alias = copy;
    copy = alias;
    EXPECT_EQ(base.use_count(), 4);
    EXPECT_EQ(copy(3), 13);
    copy = Vorn::Function<int(int)>(&Twice);
    EXPECT_EQ(base.use_count(), 3);
    EXPECT_EQ(copy(3), 6);
    moved = nullptr;
    EXPECT_TRUE(moved.IsEmpty());
    EXPECT_EQ(base.use_count(), 2);
  }
  EXPECT_EQ(base.use_count(), 1);
}

}  // namespace
