// Vorn::SharedPtr and Vorn::WeakPtr over Vorn_BaseClass objects, and the
// exact-type record used to check base-to-derived conversions.

#include <gtest/gtest.h>

#include <utility>

#include "core/CoreTestSupport.h"
#include "vorn/core/TypeInfo.h"

using vorn_test::Probe;
using vorn_test::Tracker;

namespace {

class Derived : public Probe {
public:
  explicit Derived(Tracker* tracker) : Probe(tracker) { _SetExactType<Derived>(); }
  int value = 7;
};

// --- SharedPtr -------------------------------------------------------------------

TEST(SharedPtr, CopiesAndMovesShareOneObjectDeletedWithTheLastHandle) {
  Tracker tracker;
  Vorn::SharedPtr<Probe> a(new Probe(&tracker));
  Probe* raw = a.Get();

  Vorn::SharedPtr<Probe> b(a);
  Vorn::SharedPtr<Probe> c(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_TRUE(a == nullptr);
  EXPECT_EQ(b.Get(), raw);
  EXPECT_EQ(c.Get(), raw);
  EXPECT_TRUE(b == c);

  b.Reset();
  EXPECT_FALSE(b);
  EXPECT_EQ(tracker.requestBegins, 0);  // c still holds it: no request yet
  // Copy assignment releases what the target held, and survives self-assignment.
  Tracker other;
  b = Vorn::SharedPtr<Probe>(new Probe(&other));
  b = c;
  EXPECT_EQ(other.deleted, 1);
  Vorn::SharedPtr<Probe>& alias = b;
  b = alias;
  EXPECT_TRUE(b == c);
  b.Reset();
  EXPECT_EQ(tracker.deleted, 0);
  c = nullptr;
  EXPECT_EQ(tracker.deleted, 1);
  EXPECT_EQ(tracker.requestBegins, 1);
}

TEST(SharedPtr, StaticPointerCastFromBaseToDerivedKeepsTheCountRight) {
  Tracker tracker;
  Vorn::SharedPtr<Vorn_BaseClass> base(Vorn::SharedPtr<Derived>(new Derived(&tracker)));
  ASSERT_TRUE(base->HasExactType(Vorn::TypeKey<Derived>()));

  // From a const handle: the source keeps its reference.
  Vorn::SharedPtr<Derived> copy = Vorn::StaticPointerCast<Derived>(base);
  ASSERT_TRUE(base);
  EXPECT_EQ(copy->value, 7);
  // From an rvalue: the reference moves over.
  Vorn::SharedPtr<Derived> moved = Vorn::StaticPointerCast<Derived>(std::move(base));
  EXPECT_FALSE(base);
  EXPECT_EQ(moved.Get(), copy.Get());

  copy.Reset();
  EXPECT_EQ(tracker.deleted, 0);
  moved.Reset();
  EXPECT_EQ(tracker.deleted, 1);

  Vorn::SharedPtr<Vorn_BaseClass> none;
  EXPECT_FALSE(Vorn::StaticPointerCast<Derived>(none));
}

// --- exact type --------------------------------------------------------------------

// --- WeakPtr -------------------------------------------------------------------------

TEST(WeakPtr, LocksWhileOwnedAndIsEmptyAfterTheLastRelease) {
  Tracker tracker;
  Vorn::SharedPtr<Probe> owner(new Probe(&tracker));
  Vorn::WeakPtr<Probe> weak(owner);
  EXPECT_FALSE(weak.Expired());

  Vorn::SharedPtr<Probe> locked = weak.Lock();
  EXPECT_TRUE(locked == owner);
  locked.Reset();

  // Weak handles do not keep the object alive.
  Vorn::WeakPtr<Probe> copy(weak);
  Vorn::WeakPtr<Probe> moved(std::move(copy));
  owner.Reset();
  EXPECT_EQ(tracker.deleted, 1);
  EXPECT_TRUE(weak.Expired());
  EXPECT_FALSE(weak.Lock());
  EXPECT_FALSE(moved.Lock());
  EXPECT_FALSE(copy.Lock());
  // The weak handles outlive the object; the leak checker verifies the
  // control block goes with the last of them.
}

TEST(WeakPtr, NeverTakesFirstOwnership) {
  Tracker tracker;
  auto* raw = new Probe(&tracker);
  raw->MakeShareable();
  Vorn::WeakPtr<Probe> weak(raw);
  EXPECT_TRUE(weak.Expired());
  EXPECT_FALSE(weak.Lock());
  EXPECT_FALSE(raw->IsOwned());
  delete raw;
  EXPECT_EQ(tracker.deleted, 1);
}

}  // namespace
