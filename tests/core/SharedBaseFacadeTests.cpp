// VornBaseClass (std::shared_ptr ownership) and the VornBaseFacade /
// VornBaseImpl pair.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/CoreTestSupport.h"
#include "vorn/core/Facade.h"
#include "vorn/core/SharedBase.h"
#include "vorn/host/SysLog.h"

using vorn_test::Tracker;

namespace {

// --- VornBaseClass ---------------------------------------------------------------------

class Node : public VornBaseClass {
public:
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }
};

TEST(VornBaseClass, NeverOwnedObjectIsExpiredAndHandsOutNothing) {
  Node node;
  EXPECT_TRUE(node.IsExpired());
  EXPECT_EQ(node.GetSharedPtr(), nullptr);
  EXPECT_FALSE(node.HasOMInterface());
}

TEST(VornBaseClass, OwnedObjectSharesItsOwnershipUntilTheOwnerGoes) {
  Node node;
  {
    // An owner that does not delete, so the object can be examined after it.
    std::shared_ptr<Node> owner(&node, [](Node*) {});
    EXPECT_FALSE(node.IsExpired());
    std::shared_ptr<VornBaseClass> shared = node.GetSharedPtr();
    EXPECT_EQ(shared.get(), &node);
    EXPECT_EQ(owner.use_count(), 2);
  }
  EXPECT_TRUE(node.IsExpired());
  EXPECT_EQ(node.GetSharedPtr(), nullptr);
}

// --- facade and implementation ------------------------------------------------------------

class TestImpl;

class TestFacade : public VornBaseFacade {
public:
  explicit TestFacade(Tracker* tracker) : m_tracker(tracker) {}
  ~TestFacade() override { ++m_tracker->deleted; }
  using VornBaseFacade::_LinkToImpl;
  using VornBaseFacade::_SetOwnsImpl;

private:
  Tracker* m_tracker;
};

class TestImpl : public VornBaseImpl {
public:
  explicit TestImpl(Tracker* tracker) : m_tracker(tracker) {}
  ~TestImpl() override { ++m_tracker->deleted; }
  using VornBaseImpl::_LinkToFacade;
  using VornBaseImpl::_SetOwnsFacade;

private:
  Tracker* m_tracker;
};

// Counts destruction requests an owner is told about; may drop its handle.
template <class T>
struct OwnerSlot {
  Vorn::SharedPtr<T> handle;
  int told = 0;
  bool releaseWhenTold = false;
};
template <class T>
void TellOwner(unsigned int, Vorn_BaseClass*, void* ctx) {
  auto* slot = static_cast<OwnerSlot<T>*>(ctx);
  ++slot->told;
  if (slot->releaseWhenTold) slot->handle.Reset();
}

TEST(FacadeImpl, BindingFromEitherSideBindsBoth) {
  KRTAbendCapture capture;
  Tracker ft1, it1, ft2, it2;
  auto* facade1 = new TestFacade(&ft1);
  auto* impl1 = new TestImpl(&it1);
  facade1->_LinkToImpl(impl1);
  EXPECT_TRUE(facade1->HasImpl());
  EXPECT_TRUE(impl1->HasFacade());

  auto* facade2 = new TestFacade(&ft2);
  auto* impl2 = new TestImpl(&it2);
  impl2->_LinkToFacade(facade2);
  EXPECT_TRUE(facade2->HasImpl());
  EXPECT_TRUE(impl2->HasFacade());
  EXPECT_EQ(capture.Count(), 0u);

  // Deleting one side of a bound pair nobody owns takes the other with it.
  delete facade1;
  EXPECT_EQ(it1.deleted, 1);
  delete impl2;
  EXPECT_EQ(ft2.deleted, 1);
}

TEST(FacadeImpl, RequestOnAnUnownedImplDeletesTheFacadeAndUnbindsTheImpl) {
  Tracker ft, it;
  auto* facade = new TestFacade(&ft);
  auto* impl = new TestImpl(&it);
  impl->_LinkToFacade(facade);
  impl->RequestDestruction();
  EXPECT_EQ(ft.deleted, 1);
  EXPECT_EQ(it.deleted, 0);
  EXPECT_FALSE(impl->HasFacade());
  delete impl;
  EXPECT_EQ(it.deleted, 1);
}

TEST(FacadeImpl, FacadeRequestCutsTheLinkAndWithdrawsItsCallback) {
  Tracker ft, it;
  auto* facade = new TestFacade(&ft);
  OwnerSlot<TestImpl> implOwner;
  implOwner.handle = Vorn::SharedPtr<TestImpl>(new TestImpl(&it));
  TestImpl* impl = implOwner.handle.Get();
  impl->AddDestructionRequestCB(&TellOwner<TestImpl>, &implOwner, nullptr);
  facade->_LinkToImpl(impl);

  facade->RequestDestruction();
  EXPECT_FALSE(facade->HasImpl());
  EXPECT_FALSE(impl->HasFacade());
  // The owned impl was told and follows; had it still held the facade's
  // callback, its request would have deleted the unowned facade.
  EXPECT_EQ(implOwner.told, 1);
  EXPECT_TRUE(impl->IsDestroying());
  EXPECT_EQ(ft.deleted, 0);
  EXPECT_EQ(it.deleted, 0);

  implOwner.handle.Reset();
  EXPECT_EQ(it.deleted, 1);
  EXPECT_EQ(ft.deleted, 0);
  delete facade;
  EXPECT_EQ(ft.deleted, 1);
}

TEST(FacadeImpl, OwnedFacadeIsToldWhenItsImplGoesAndGoesWithItsHandle) {
  KRTAbendCapture capture;
  Tracker ft, it;
  OwnerSlot<TestFacade> facadeOwner;
  facadeOwner.handle = Vorn::SharedPtr<TestFacade>(new TestFacade(&ft));
  facadeOwner.handle->AddDestructionRequestCB(&TellOwner<TestFacade>, &facadeOwner, nullptr);
  auto* impl = new TestImpl(&it);
  facadeOwner.handle->_LinkToImpl(impl);

  Vorn_BaseClass::DeleteUnlessOwned(impl);
  EXPECT_EQ(it.deleted, 1);
  EXPECT_EQ(facadeOwner.told, 1);
  ASSERT_TRUE(facadeOwner.handle);
  EXPECT_FALSE(facadeOwner.handle->HasImpl());
  EXPECT_EQ(ft.deleted, 0);

  facadeOwner.handle.Reset();
  EXPECT_EQ(ft.deleted, 1);
  EXPECT_EQ(capture.Count(), 0u);
}

TEST(FacadeImpl, FacadeOwningItsImplReleasesItWhenTheLinkIsCut) {
  Tracker ft, it;
  Vorn::SharedPtr<TestFacade> facade(new TestFacade(&ft));
  auto* impl = new TestImpl(&it);
  facade->_LinkToImpl(impl);
  // The link's strong reference: the impl now lives as long as the link.
  impl->GetSharedPtr()._Release();
  facade->_SetOwnsImpl(true);
  EXPECT_TRUE(impl->IsOwned());

  facade.Reset();
  EXPECT_EQ(ft.deleted, 1);
  EXPECT_EQ(it.deleted, 1);
}

TEST(FacadeImpl, ImplOwningItsFacadeReleasesItWhenTheImplGoes) {
  Tracker ft, it;
  Vorn::SharedPtr<TestImpl> impl(new TestImpl(&it));
  auto* facade = new TestFacade(&ft);
  impl->_LinkToFacade(facade);
  facade->GetSharedPtr()._Release();
  impl->_SetOwnsFacade(true);

  impl.Reset();
  EXPECT_EQ(it.deleted, 1);
  EXPECT_EQ(ft.deleted, 1);
}

}  // namespace
