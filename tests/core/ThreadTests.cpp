// Counted objects used from several threads at once: destruction requests,
// callback registration, strong and weak handles.

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "core/CoreTestSupport.h"

using vorn_test::Probe;
using vorn_test::Tracker;

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 200;

// Each round: setup(round) on the main thread, work(index) on every worker,
// released at once, then check(round) on the main thread.
template <class Setup, class Work, class Check>
void RunRounds(int rounds, Setup setup, Work work, Check check) {
  for (int r = 0; r < rounds; ++r) {
    setup(r);
    {
      std::latch start(kThreads);
      std::vector<std::jthread> pool;
      for (int t = 0; t < kThreads; ++t) {
        pool.emplace_back([&, t] {
          start.arrive_and_wait();
          work(t);
        });
      }
    }  // joins the workers
    check(r);
  }
}

// One registered context: how often its callback and its deleter ran.
struct Slot {
  std::atomic<int> calls{0};
  std::atomic<int> deletions{0};
  bool refused = false;  // written by the registering thread only
};
void CountCall(unsigned int, Vorn_BaseClass*, void* ctx) { ++static_cast<Slot*>(ctx)->calls; }
void CountDeletion(void* ctx) noexcept { ++static_cast<Slot*>(ctx)->deletions; }

TEST(Threads, EveryRegisteredContextIsDeletedOnceWhileRegistrationRacesTheRequest) {
  constexpr int kPerThread = 64;
  constexpr int kRegistering = kThreads - 1;
  constexpr int kSlots = kRegistering * kPerThread;
  Probe* object = nullptr;
  std::vector<Slot> slots(kSlots);
  std::atomic<int> attempts{0};
  int requestAfter = 0;
  RunRounds(
      3 * kRounds,
      [&](int round) {
        object = new Probe;
        slots = std::vector<Slot>(kSlots);
        attempts = 0;
        // Every other round right at the start, racing the creation of the
        // callback list.
        requestAfter = round % 2 == 0 ? 0 : (round * 13) % kSlots;
      },
      [&](int t) {
        if (t == kRegistering) {
          while (attempts.load() < requestAfter) std::this_thread::yield();
          object->RequestDestruction();
          return;
        }
        for (int i = 0; i < kPerThread; ++i) {
          Slot& s = slots[static_cast<std::size_t>(t * kPerThread + i)];
          ++attempts;
          const unsigned int id = object->AddDestructionRequestCB(&CountCall, &s, &CountDeletion);
          if (id == 0)
            s.refused = true;
          else if (i % 2 == 0)
            object->RemoveDestructionRequestCB(id);
        }
      },
      [&](int round) {
        // A refused context stays untouched; an accepted one is deleted once
        // and called at most once.
        for (const Slot& s : slots) {
          ASSERT_EQ(s.deletions, s.refused ? 0 : 1) << "round " << round;
          ASSERT_LE(s.calls, s.refused ? 0 : 1) << "round " << round;
        }
        delete object;
      });
}

TEST(Threads, WeakLocksRacingTheLastReleaseNeverReviveTheObject) {
  Tracker* tracker = nullptr;
  Vorn::SharedPtr<Probe> owner;
  Vorn::WeakPtr<Probe> weak;
  std::atomic<int> lockedAfterRelease{0};
  RunRounds(
      kRounds,
      [&](int) {
        tracker = new Tracker;
        owner = Vorn::SharedPtr<Probe>(new Probe(tracker));
        weak = Vorn::WeakPtr<Probe>(owner);
      },
      [&](int t) {
        if (t == 0) {
          owner.Reset();
          return;
        }
        for (int i = 0; i < 1000; ++i) {
          Vorn::SharedPtr<Probe> locked = weak.Lock();
          if (!locked) break;
          // A locked handle always refers to a live, owned object.
          if (!locked->IsOwned() || tracker->deleted != 0) ++lockedAfterRelease;
        }
      },
      [&](int round) {
        ASSERT_EQ(tracker->deleted, 1) << "round " << round;
        ASSERT_FALSE(weak.Lock()) << "round " << round;
        ASSERT_EQ(lockedAfterRelease, 0) << "round " << round;
        weak.Reset();
        delete tracker;
      });
}

}  // namespace
