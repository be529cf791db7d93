// Vorn_BaseClass, its handles, VornBaseClass and the facade / impl pair.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <utility>

#include "core/CoreTestSupport.h"
#include "vorn/core/SharedBase.h"
#include "vorn/core/TypeInfo.h"

using namespace vorn_test;

namespace {

void RecordAndThrow(unsigned int id, Vorn_BaseClass* object, void* ctx) {
  RecordCallback(id, object, ctx);
  throw std::runtime_error("callback failure");
}

// A callback that tries to change the entries of the object being destroyed.
struct MeddlerCtx {
  unsigned int ownId = 0, otherId = 0, addResult = 99;
  NamedCtx* fresh = nullptr;
};
void Meddle(unsigned int, Vorn_BaseClass* object, void* ctx) {
  auto* m = static_cast<MeddlerCtx*>(ctx);
  object->RemoveDestructionRequestCB(m->otherId);
  object->UpdateDestructionRequestCtx(m->otherId, m->fresh);
  object->RemoveDestructionRequestCB(m->ownId);
  m->addResult = object->AddDestructionRequestCB(&RecordCallback, m->fresh, &RecordDeleter);
}

// Neither a throwing callback nor one changing the entries during the request
// stops or alters the others.
TEST(DestructionCallbacks, RunInOrderThenDeletersInOrderWhateverACallbackDoes) {
  Vorn_BaseClass::DeleteUnlessOwned(nullptr);
  Journal journal;
  Tracker tracker;
  MeddlerCtx meddler;
  meddler.fresh = Named(journal, "fresh");
  auto* p = new Probe(&tracker);
  p->AddDestructionRequestCB(&RecordCallback, Named(journal, "A"), &RecordDeleter);
  p->AddDestructionRequestCB(&RecordAndThrow, Named(journal, "B"), &RecordDeleter);
  meddler.ownId = p->AddDestructionRequestCB(&Meddle, &meddler, nullptr);
  meddler.otherId = p->AddDestructionRequestCB(&RecordCallback, Named(journal, "C"), &RecordDeleter);
  EXPECT_NO_THROW(Vorn_BaseClass::DeleteUnlessOwned(p));
  EXPECT_EQ(journal, (Journal{"cb A", "cb B", "cb C", "del A", "del B", "del C"}));
  EXPECT_EQ(meddler.addResult, 0u);
  EXPECT_EQ(tracker.deleted, 1);
  EXPECT_EQ(tracker.requestBegins, 1);
  delete meddler.fresh;
}

TEST(DestructionCallbacks, RemoveAndUpdateHandTheReplacedContextToTheDeleterAtOnce) {
  Journal journal;
  Probe p;
  const unsigned int idA = p.AddDestructionRequestCB(&RecordCallback, Named(journal, "A"), &RecordDeleter);
  const unsigned int idB = p.AddDestructionRequestCB(&RecordCallback, Named(journal, "B"), &RecordDeleter);
  // Removing twice, id 0 and unknown ids are ignored; so is storing the
  // context already stored, and unknown ids leave the context with the caller.
  for (unsigned int id : {idA, idA, 0u, idB + 1}) p.RemoveDestructionRequestCB(id);
  NamedCtx* c = Named(journal, "C");
  NamedCtx* stray = Named(journal, "stray");
  for (unsigned int id : {idB, idB}) p.UpdateDestructionRequestCtx(id, c);
  for (unsigned int id : {idA, 0u, idB + 1}) p.UpdateDestructionRequestCtx(id, stray);
  EXPECT_EQ(journal, (Journal{"del A", "del B"}));
  p.RequestDestruction();
  EXPECT_EQ(journal, (Journal{"del A", "del B", "cb C", "del C"}));
  delete stray;
}

TEST(Ownership, OnlyAShareableObjectHandsOutHandlesAndOnlyGetSharedPtrTakesFirstOwnership) {
  Tracker tracker;
  auto* raw = new Probe(&tracker);
  EXPECT_FALSE(raw->GetSharedPtr());
  for (bool shareable : {false, true}) {
    if (shareable) raw->MakeShareable();
    EXPECT_EQ(raw->IsShareable(), shareable);
    EXPECT_FALSE(raw->TryGetSharedPtr()) << shareable;
    EXPECT_FALSE(Vorn::WeakPtr<Probe>(raw).Lock()) << shareable;
  }
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

TEST(SharedPtr, CopiesAndMovesShareOneObjectDeletedWithTheLastStrongHandle) {
  Tracker tracker;
  Vorn::SharedPtr<Probe> a(new Probe(&tracker));
  // The leak checker verifies the control block goes with the last weak handle.
  Vorn::WeakPtr<Probe> weak(a);
  EXPECT_TRUE(weak.Lock() == a);
  Vorn::WeakPtr<Probe> weakCopy(weak);
  Vorn::WeakPtr<Probe> weakMoved(std::move(weakCopy));
  Vorn::SharedPtr<Probe> b(a);
  Vorn::SharedPtr<Probe> c(std::move(a));
  EXPECT_TRUE(a == nullptr);
  EXPECT_TRUE(b == c);

  b.Reset();
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
  c = nullptr;
  EXPECT_EQ(tracker.deleted, 1);
  EXPECT_EQ(tracker.requestBegins, 1);
  EXPECT_TRUE(weak.Expired());
  EXPECT_FALSE(weakMoved.Lock());
  EXPECT_FALSE(weakCopy.Lock());
}

class Derived : public Probe {
public:
  explicit Derived(Tracker* tracker) : Probe(tracker) { _SetExactType<Derived>(); }
  int value = 7;
};

TEST(SharedPtr, StaticPointerCastFromBaseToDerivedKeepsTheCountRight) {
  Tracker tracker;
  Vorn::SharedPtr<Vorn_BaseClass> base(Vorn::SharedPtr<Derived>(new Derived(&tracker)));
  ASSERT_TRUE(base->HasExactType(Vorn::TypeKey<Derived>()));
  // An rvalue source hands its reference over.
  Vorn::SharedPtr<Derived> copy = Vorn::StaticPointerCast<Derived>(base);
  ASSERT_TRUE(base);
  EXPECT_EQ(copy->value, 7);
  Vorn::SharedPtr<Derived> moved = Vorn::StaticPointerCast<Derived>(std::move(base));
  EXPECT_FALSE(base);
  EXPECT_EQ(moved.Get(), copy.Get());
  copy.Reset();
  EXPECT_EQ(tracker.deleted, 0);
  moved.Reset();
  EXPECT_EQ(tracker.deleted, 1);
  EXPECT_FALSE(Vorn::StaticPointerCast<Derived>(Vorn::SharedPtr<Vorn_BaseClass>()));
}

class Node : public VornBaseClass {
public:
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }
};

TEST(VornBaseClass, SharesItsOwnershipOnlyWhileOwned) {
  Node node;
  EXPECT_EQ(node.GetSharedPtr(), nullptr);
  EXPECT_FALSE(node.HasOMInterface());
  {
    std::shared_ptr<Node> owner(&node, [](Node*) {});
    EXPECT_FALSE(node.IsExpired());
    EXPECT_EQ(node.GetSharedPtr().get(), &node);
    EXPECT_EQ(node.GetSharedPtr().use_count(), 2);  // shares the owner's count
  }
  EXPECT_TRUE(node.IsExpired());
  EXPECT_EQ(node.GetSharedPtr(), nullptr);
}

// Each side's tracker, and no report unless a test expects one.
class FacadeImpl : public testing::Test {
protected:
  KRTAbendCapture capture;
  Tracker ft, it;
  void TearDown() override { EXPECT_EQ(capture.Count(), 0u); }
};

TEST_F(FacadeImpl, FacadeRequestCutsTheLinkAndWithdrawsItsCallback) {
  auto* facade = new TestFacade(&ft);
  Vorn::SharedPtr<TestImpl> impl(new TestImpl(&it));
  Journal told;
  impl->AddDestructionRequestCB(&RecordCallback, Named(told, "impl owner"), &RecordDeleter);
  facade->_LinkToImpl(impl.Get());

  facade->RequestDestruction();
  EXPECT_FALSE(facade->HasImpl());
  EXPECT_FALSE(impl->HasFacade());
  // The owned impl was told and follows; had it still held the facade's
  // callback, its request would have deleted the unowned facade.
  EXPECT_EQ(told, (Journal{"cb impl owner", "del impl owner"}));
  EXPECT_TRUE(impl->IsDestroying());
  impl.Reset();
  EXPECT_EQ(it.deleted, 1);
  EXPECT_EQ(ft.deleted, 0);
  delete facade;
}

TEST_F(FacadeImpl, ASideOwningItsPeerReleasesItWhenTheLinkIsCut) {
  Vorn::SharedPtr<TestFacade> facade(new TestFacade(&ft));
  auto* impl = new TestImpl(&it);
  facade->_LinkToImpl(impl);
  // The link's strong reference: the impl now lives as long as the link.
  impl->GetSharedPtr()._Release();
  facade->_SetOwnsImpl(true);
  facade.Reset();
  EXPECT_EQ(it.deleted, 1);

  Vorn::SharedPtr<TestImpl> owningImpl(new TestImpl(&it));
  auto* ownedFacade = new TestFacade(&ft);
  owningImpl->_LinkToFacade(ownedFacade);
  ownedFacade->GetSharedPtr()._Release();
  owningImpl->_SetOwnsFacade(true);
  owningImpl.Reset();
  EXPECT_EQ(ft.deleted, 2);
  EXPECT_EQ(it.deleted, 2);
}

}  // namespace
