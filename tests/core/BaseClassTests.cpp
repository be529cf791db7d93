// Vorn_BaseClass: destruction callbacks, destruction requests, ownership and
// deletion.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/CoreTestSupport.h"
#include "vorn/host/SysLog.h"

using vorn_test::Journal;
using vorn_test::NamedCtx;
using vorn_test::Probe;
using vorn_test::RecordCallback;
using vorn_test::RecordDeleter;
using vorn_test::Tracker;
using Events = std::vector<std::string>;

namespace {

// Counts calls of the callback and of the deleter on a context that stays
// with the test.
struct Counts {
  int calls = 0;
  int deletions = 0;
};
void CountCall(unsigned int, Vorn_BaseClass*, void* ctx) { ++static_cast<Counts*>(ctx)->calls; }
void CountDeletion(void* ctx) noexcept { ++static_cast<Counts*>(ctx)->deletions; }

NamedCtx* Named(Journal& journal, const char* name) { return new NamedCtx{&journal, name}; }

// --- registration and ids ------------------------------------------------------

TEST(DestructionCallbacks, CallbacksRunInRegistrationOrderThenDeletersInTheSameOrder) {
  Journal journal;
  Probe p;
  p.AddDestructionRequestCB(&RecordCallback, Named(journal, "A"), &RecordDeleter);
  p.AddDestructionRequestCB(&RecordCallback, Named(journal, "B"), &RecordDeleter);
  p.AddDestructionRequestCB(&RecordCallback, Named(journal, "C"), &RecordDeleter);
  p.RequestDestruction();
  EXPECT_EQ(journal.events, (Events{"cb A", "cb B", "cb C", "del A", "del B", "del C"}));
}

TEST(DestructionCallbacks, RemoveHandsContextToDeleterAtOnceAndCallbackNeverRuns) {
  Journal journal;
  Probe p;
  const unsigned int idA = p.AddDestructionRequestCB(&RecordCallback, Named(journal, "A"), &RecordDeleter);
  p.AddDestructionRequestCB(&RecordCallback, Named(journal, "B"), &RecordDeleter);

  p.RemoveDestructionRequestCB(idA);
  EXPECT_EQ(journal.events, (Events{"del A"}));
  // Removing again, id 0 and unknown ids are ignored.
  p.RemoveDestructionRequestCB(idA);
  p.RemoveDestructionRequestCB(0);
  p.RemoveDestructionRequestCB(12345);
  EXPECT_EQ(journal.events, (Events{"del A"}));

  p.RequestDestruction();
  EXPECT_EQ(journal.events, (Events{"del A", "cb B", "del B"}));
}

TEST(DestructionCallbacks, UpdateHandsPreviousContextToDeleterAtOnce) {
  Journal journal;
  Probe p;
  const unsigned int id = p.AddDestructionRequestCB(&RecordCallback, Named(journal, "A"), &RecordDeleter);

  NamedCtx* b = Named(journal, "B");
  p.UpdateDestructionRequestCtx(id, b);
  EXPECT_EQ(journal.events, (Events{"del A"}));

  // Storing the context already stored changes nothing.
  p.UpdateDestructionRequestCtx(id, b);
  EXPECT_EQ(journal.events, (Events{"del A"}));

  // Unknown ids leave the context with the caller.
  NamedCtx* stray = Named(journal, "stray");
  p.UpdateDestructionRequestCtx(0, stray);
  p.UpdateDestructionRequestCtx(id + 1, stray);

  p.RequestDestruction();
  EXPECT_EQ(journal.events, (Events{"del A", "cb B", "del B"}));
  delete stray;
}

struct ThrowingCtx {
  Journal* journal;
};
void RecordAndThrow(unsigned int, Vorn_BaseClass*, void* ctx) {
  static_cast<ThrowingCtx*>(ctx)->journal->events.push_back("cb thrower");
  throw std::runtime_error("callback failure");
}
void RecordThrowerDeleted(void* ctx) noexcept {
  auto* c = static_cast<ThrowingCtx*>(ctx);
  c->journal->events.push_back("del thrower");
  delete c;
}

TEST(DestructionCallbacks, ThrowingCallbackIsSwallowedAndTheRestStillRun) {
  Journal journal;
  Probe p;
  p.AddDestructionRequestCB(&RecordCallback, Named(journal, "A"), &RecordDeleter);
  p.AddDestructionRequestCB(&RecordAndThrow, new ThrowingCtx{&journal}, &RecordThrowerDeleted);
  p.AddDestructionRequestCB(&RecordCallback, Named(journal, "B"), &RecordDeleter);

  EXPECT_NO_THROW(p.RequestDestruction());
  EXPECT_EQ(journal.events, (Events{"cb A", "cb thrower", "cb B", "del A", "del thrower", "del B"}));
}

// A callback that tries to change the entries of the object being destroyed.
struct MeddlerCtx {
  Journal* journal;
  unsigned int ownId = 0;
  unsigned int otherId = 0;
  NamedCtx* fresh = nullptr;
  unsigned int addResult = 99;
};
void Meddle(unsigned int, Vorn_BaseClass* object, void* ctx) {
  auto* m = static_cast<MeddlerCtx*>(ctx);
  m->journal->events.push_back("cb meddler");
  object->RemoveDestructionRequestCB(m->otherId);
  object->UpdateDestructionRequestCtx(m->otherId, m->fresh);
  object->RemoveDestructionRequestCB(m->ownId);
  m->addResult = object->AddDestructionRequestCB(&RecordCallback, m->fresh, &RecordDeleter);
}

TEST(DestructionCallbacks, CallbackChangingEntriesDuringTheRequestHasNoEffect) {
  Journal journal;
  Probe p;
  MeddlerCtx meddler{&journal};
  meddler.fresh = Named(journal, "fresh");
  meddler.ownId = p.AddDestructionRequestCB(&Meddle, &meddler, nullptr);
  meddler.otherId = p.AddDestructionRequestCB(&RecordCallback, Named(journal, "B"), &RecordDeleter);

  p.RequestDestruction();
  // B still runs with its own context, and its deleter runs once.
  EXPECT_EQ(journal.events, (Events{"cb meddler", "cb B", "del B"}));
  EXPECT_EQ(meddler.addResult, 0u);
  delete meddler.fresh;
}

// --- destruction requests -------------------------------------------------------

// --- ownership ------------------------------------------------------------------

TEST(Ownership, NonShareableObjectHasNoHandlesUntilOneIsMadeFromIt) {
  Probe local;
  EXPECT_FALSE(local.IsShareable());
  EXPECT_FALSE(local.IsOwned());
  EXPECT_FALSE(local.GetSharedPtr());
  EXPECT_FALSE(local.TryGetSharedPtr());
  Vorn::WeakPtr<Probe> weak(&local);
  EXPECT_TRUE(weak.Expired());
  EXPECT_FALSE(weak.Lock());
  EXPECT_FALSE(local.IsShareable());

  Tracker tracker;
  auto* raw = new Probe(&tracker);
  Vorn::SharedPtr<Probe> handle(raw);
  EXPECT_TRUE(raw->IsShareable());
  EXPECT_TRUE(raw->IsOwned());
  handle.Reset();
  EXPECT_EQ(tracker.deleted, 1);
  EXPECT_EQ(tracker.requestBegins, 1);
}

TEST(Ownership, HandleFromShareableNeverOwnedObjectIsItsOnlyOwner) {
  Tracker tracker;
  auto* raw = new Probe(&tracker);
  raw->MakeShareable();
  EXPECT_TRUE(raw->IsShareable());
  EXPECT_FALSE(raw->IsOwned());

  // Trying never takes first ownership.
  EXPECT_FALSE(raw->TryGetSharedPtr());
  EXPECT_FALSE(raw->IsOwned());

  Vorn::SharedPtr<Probe> first = raw->GetSharedPtr();
  ASSERT_EQ(first.Get(), raw);
  EXPECT_TRUE(raw->IsOwned());
  Vorn::SharedPtr<Probe> second = raw->TryGetSharedPtr();
  ASSERT_EQ(second.Get(), raw);

  first.Reset();
  EXPECT_EQ(tracker.deleted, 0);
  second.Reset();
  EXPECT_EQ(tracker.deleted, 1);
}

// Takes a new strong handle from the object being destroyed.
void Rescue(unsigned int, Vorn_BaseClass* object, void* ctx) {
  *static_cast<Vorn::SharedPtr<Probe>*>(ctx) = static_cast<Probe*>(object)->GetSharedPtr();
}

TEST(Ownership, OwnerRetakingOwnershipDuringLastReleaseKeepsObjectAndIsReported) {
  KRTAbendCapture capture;
  Tracker tracker;
  auto* raw = new Probe(&tracker);
  Vorn::SharedPtr<Probe> owner(raw);
  Vorn::WeakPtr<Probe> weak(owner);
  Vorn::SharedPtr<Probe> rescued;
  raw->AddDestructionRequestCB(&Rescue, &rescued, nullptr);

  owner.Reset();
  EXPECT_EQ(tracker.deleted, 0);
  ASSERT_EQ(rescued.Get(), raw);
  EXPECT_TRUE(raw->IsOwned());
  EXPECT_EQ(capture.Messages(), std::vector<std::string>{vorn_test::kStillOwnedMessage});
  // Weak handles stay cut off from the object once its last release began.
  EXPECT_FALSE(weak.Lock());

  rescued.Reset();
  EXPECT_EQ(tracker.deleted, 1);
  EXPECT_EQ(tracker.requestBegins, 1);
  EXPECT_EQ(capture.Count(), 1u);
}

TEST(Ownership, DeleteUnlessOwnedDeletesUnownedObjects) {
  Vorn_BaseClass::DeleteUnlessOwned(nullptr);

  Tracker unowned;
  Counts counts;
  auto* plain = new Probe(&unowned);
  plain->AddDestructionRequestCB(&CountCall, &counts, &CountDeletion);
  Vorn_BaseClass::DeleteUnlessOwned(plain);
  EXPECT_EQ(unowned.deleted, 1);
  EXPECT_EQ(counts.calls, 1);
  EXPECT_EQ(counts.deletions, 1);
}

}  // namespace
