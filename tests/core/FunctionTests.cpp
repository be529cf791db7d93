// Vorn::Function: empty calls, inline and heap-stored callables, copies and
// moves.

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "vorn/core/Function.h"
#include "vorn/host/SysLog.h"

namespace {

// A callable that counts its live instances and copies; not trivially
// copyable, so it is stored on the heap.
struct Instrumented {
  static inline int live = 0;
  static inline int copies = 0;
  int base;
  explicit Instrumented(int b) : base(b) { ++live; }
  Instrumented(const Instrumented& other) : base(other.base) {
    ++live;
    ++copies;
  }
  Instrumented(Instrumented&& other) noexcept : base(other.base) { ++live; }
  ~Instrumented() { --live; }
  int operator()(int x) const { return base + x; }
};

int Twice(int x) { return 2 * x; }

TEST(Function, MovingEmptiesTheSourceAndCopyingLeavesItCallable) {
  const Vorn::Function<int(int)> fromNullPointer(static_cast<int (*)(int)>(nullptr));
  EXPECT_TRUE(fromNullPointer.IsEmpty());
  EXPECT_FALSE(fromNullPointer);
  EXPECT_EQ(fromNullPointer.GetTargetTypeInfo().key, 0u);

  KRTAbendCapture capture;
  int calls = 0;
  Vorn::Function<void()> source([&calls] { ++calls; });
  Vorn::Function<void()> copy(source);
  copy();
  source();
  EXPECT_EQ(calls, 2);

  Vorn::Function<void()> moved(std::move(source));
  EXPECT_TRUE(source.IsEmpty());
  // The moved-from function calls nothing.
  source();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(capture.Count(), 1u);
  moved();
  EXPECT_EQ(calls, 3);

  Vorn::Function<void()> assigned;
  assigned = std::move(moved);
  EXPECT_TRUE(moved.IsEmpty());
  assigned();
  EXPECT_EQ(calls, 4);
  assigned = nullptr;
  EXPECT_TRUE(assigned.IsEmpty());
}

TEST(Function, HeapStoredCallablesAreCopiedAndDestroyedExactly) {
  Instrumented::live = 0;
  Instrumented::copies = 0;
  {
    Instrumented callable(10);
    Vorn::Function<int(int)> f(callable);
    EXPECT_EQ(Instrumented::copies, 1);
    EXPECT_EQ(f(1), 11);
    EXPECT_EQ(f.GetTargetTypeInfo().key, Vorn::TypeKey<Instrumented>());

    // Moving takes the stored object over; nothing is copied.
    Vorn::Function<int(int)> moved(std::move(f));
    EXPECT_EQ(Instrumented::copies, 1);
    EXPECT_EQ(Instrumented::live, 2);

    Vorn::Function<int(int)> copy(moved);
    EXPECT_EQ(Instrumented::copies, 2);
    EXPECT_EQ(Instrumented::live, 3);
    EXPECT_EQ(copy(2), 12);

    copy = moved;  // the previous copy goes
    EXPECT_EQ(Instrumented::live, 3);
    Vorn::Function<int(int)>& alias = copy;
    copy = alias;
    EXPECT_EQ(Instrumented::live, 3);
    EXPECT_EQ(copy(3), 13);

    copy = Vorn::Function<int(int)>(&Twice);
    EXPECT_EQ(Instrumented::live, 2);
    EXPECT_EQ(copy(3), 6);
  }
  EXPECT_EQ(Instrumented::live, 0);
}

struct Counter {
  int Add(int n) { return total += n; }
  int total = 0;
};
struct Left {
  long padding = 1;
};
struct Right {
  virtual ~Right() = default;
  virtual int Id() const { return 1; }
};
struct Both : Left, Right {
  int Id() const override { return 42; }
};

TEST(Function, BoundMethodsCallTheirObject) {
  Counter counter;
  auto add = Vorn::Function<int(int)>::Bind(&counter, &Counter::Add);
  auto addCopy = add;
  EXPECT_EQ(add(2), 2);
  EXPECT_EQ(addCopy(3), 5);
  EXPECT_EQ(counter.total, 5);

  // A virtual method of a second base class dispatches on the right subobject.
  const Both both{};
  EXPECT_EQ(Vorn::Function<int()>::Bind(&both, &Right::Id)(), 42);
}

}  // namespace
