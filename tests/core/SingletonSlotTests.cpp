// Vorn::SingletonSlot, where every manager keeps its instance: one table of
// cases, run on both kinds of slot.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

#include "vorn/core/SingletonSlot.h"

namespace {

using Vorn::SingletonThreads;

// What the instances did in the current case.
struct Record {
  std::atomic<int> created{0}, deleted{0}, maxLive{0};
  int hooked = 0;
  bool hookSawItself = false;
  bool teardownSawAnInstance = false;
  bool refuseCreation = false;
  bool failAllocation = false;
  bool sayDeleted = false;
};
Record* g_record = nullptr;

template <SingletonThreads Threads>
struct Item {
  static inline Vorn::SingletonSlot<Item, Threads>* slot = nullptr;

  // Any slot serializes creation and deletion, so this count is exact there.
  Item() {
    const int live = ++g_record->created - g_record->deleted;
    if (live > g_record->maxLive) g_record->maxLive = live;
  }
  ~Item() {
    g_record->teardownSawAnInstance = slot->Peek() != nullptr;
    ++g_record->deleted;
    if (g_record->sayDeleted) std::fputs("deleted\n", stderr);
  }
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return g_record->failAllocation ? nullptr : ::operator new(size, std::nothrow);
  }
  static void operator delete(void* p) noexcept { ::operator delete(p); }
};

template <SingletonThreads Threads>
void RunCases() {
  using T = Item<Threads>;
  using Slot = Vorn::SingletonSlot<T, Threads>;
  struct Case {
    const char* name;
    Vorn::SingletonOptions<T> options;
    void (*steps)(Slot&);
    int created, deleted;  // by the end of the case; -1: not counted
    bool anyThreadsOnly = false;
  };
  constexpr auto hook = [](T& item) {
    ++g_record->hooked;
    g_record->hookSawItself = T::slot->Peek() == &item;
  };
  const Case cases[] = {
      {"made on the first Get, once; Peek makes nothing; Delete takes it out before deleting it", {},
       [](Slot& s) {
         EXPECT_EQ(s.Peek(), nullptr);
         T* first = s.Get();
         EXPECT_NE(first, nullptr);
         EXPECT_EQ(s.Get(), first);
         EXPECT_EQ(s.Peek(), first);
         g_record->teardownSawAnInstance = true;
         s.Delete();
         EXPECT_FALSE(g_record->teardownSawAnInstance);
         EXPECT_EQ(s.Peek(), nullptr);
         EXPECT_NE(s.Get(), nullptr);
       },
       2, 2},
      {"the creation hook runs once, on the instance already in the slot", {.onCreated = hook},
       [](Slot& s) {
         s.Get();
         s.Get();
         EXPECT_EQ(g_record->hooked, 1);
         EXPECT_TRUE(g_record->hookSawItself);
       },
       1, 1},
      {"refused or out of memory: no instance, no hook, and the next Get tries again",
       {.onCreated = hook, .mayCreate = [] { return !g_record->refuseCreation; }},
       [](Slot& s) {
         for (bool* cause : {&g_record->refuseCreation, &g_record->failAllocation}) {
           *cause = true;
           EXPECT_EQ(s.Get(), nullptr);
           *cause = false;
         }
         EXPECT_EQ(g_record->hooked, 0);
         EXPECT_NE(s.Get(), nullptr);
       },
       1, 1},
      {"a closing Delete closes for good, even an empty slot", {.closeOnDelete = true},
       [](Slot& s) {
         EXPECT_FALSE(s.IsClosed());
         s.Delete();
         EXPECT_TRUE(s.IsClosed());
         EXPECT_EQ(s.Get(), nullptr);
       },
       0, 0},
      {"an instance left at process end is deleted then", {.deleteAtExit = true},
       [](Slot& s) {
         EXPECT_EXIT(
             {
               g_record->sayDeleted = true;
               s.Get();
               std::exit(0);
             },
             testing::ExitedWithCode(0), "deleted");
       },
       0, 0},
      {"threads racing: one instance at a time, and every Get answers", {},
       [](Slot& s) {
         std::vector<std::thread> threads;
         std::atomic<int> empty{0};
         for (int t = 0; t < 4; ++t)
           threads.emplace_back([&s, &empty, t] {
             for (int i = 0; i < 300; ++i) {
               if (!s.Get()) ++empty;
               if ((i + t) % 7 == 0) s.Delete();
             }
           });
         for (std::thread& thread : threads) thread.join();
         EXPECT_EQ(empty.load(), 0);
         EXPECT_EQ(g_record->maxLive.load(), 1);
       },
       -1, -1, true},
  };
  for (const Case& c : cases) {
    if (c.anyThreadsOnly && Threads != SingletonThreads::Any) continue;
    SCOPED_TRACE(c.name);
    Record record;
    g_record = &record;
    Slot slot(c.options);
    T::slot = &slot;
    c.steps(slot);
    slot.Delete();
    if (c.created >= 0) {
      EXPECT_EQ(g_record->created.load(), c.created);
      EXPECT_EQ(g_record->deleted.load(), c.deleted);
    }
    EXPECT_EQ(g_record->created.load(), g_record->deleted.load());  // whatever was made went
  }
}

TEST(SingletonSlot, MainThreadSlot) { RunCases<SingletonThreads::Main>(); }
TEST(SingletonSlot, AnyThreadSlot) { RunCases<SingletonThreads::Any>(); }

}  // namespace
