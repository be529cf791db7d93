// VornBaseClass (std::shared_ptr ownership) and the VornBaseFacade /
// VornBaseImpl pair.

#include <gtest/gtest.h>

#include <memory>

#include "core/CoreTestSupport.h"
#include "vorn/core/Facade.h"
#include "vorn/core/SharedBase.h"
#include "vorn/host/SysLog.h"

using namespace vorn_test;

namespace {

class Node : public VornBaseClass {
public:
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }
};

TEST(VornBaseClass, SharesItsOwnershipOnlyWhileOwned) {
  Node node;
  EXPECT_TRUE(node.IsExpired());
  EXPECT_EQ(node.GetSharedPtr(), nullptr);
  EXPECT_FALSE(node.HasOMInterface());
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

// Each side's tracker, and no report unless a test expects one.
class FacadeImpl : public testing::Test {
protected:
  KRTAbendCapture capture;
  Tracker ft, it;
  void TearDown() override { EXPECT_EQ(capture.Count(), 0u); }
};

TEST_F(FacadeImpl, BindingFromEitherSideBindsBothAndUnownedSidesGoTogether) {
  auto* facade = new TestFacade(&ft);
  auto* impl = new TestImpl(&it);
  facade->_LinkToImpl(impl);
  EXPECT_TRUE(facade->HasImpl());
  EXPECT_TRUE(impl->HasFacade());
  // Deleting one side of a bound pair nobody owns takes the other with it.
  delete facade;
  EXPECT_EQ(it.deleted, 1);

  Tracker ft2, it2;
  facade = new TestFacade(&ft2);
  impl = new TestImpl(&it2);
  impl->_LinkToFacade(facade);
  EXPECT_TRUE(facade->HasImpl());
  EXPECT_TRUE(impl->HasFacade());
  // A request on the unowned impl deletes the facade and unbinds the impl.
  impl->RequestDestruction();
  EXPECT_EQ(ft2.deleted, 1);
  EXPECT_EQ(it2.deleted, 0);
  EXPECT_FALSE(impl->HasFacade());
  delete impl;
  EXPECT_EQ(it2.deleted, 1);
}

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
  EXPECT_EQ(ft.deleted, 0);
  EXPECT_EQ(it.deleted, 0);

  impl.Reset();
  EXPECT_EQ(it.deleted, 1);
  EXPECT_EQ(ft.deleted, 0);
  delete facade;
  EXPECT_EQ(ft.deleted, 1);
}

TEST_F(FacadeImpl, OwnedFacadeIsToldWhenItsImplGoesAndGoesWithItsHandle) {
  Vorn::SharedPtr<TestFacade> facade(new TestFacade(&ft));
  Journal told;
  facade->AddDestructionRequestCB(&RecordCallback, Named(told, "facade owner"), &RecordDeleter);
  auto* impl = new TestImpl(&it);
  facade->_LinkToImpl(impl);

  delete impl;
  EXPECT_EQ(it.deleted, 1);
  EXPECT_EQ(told, (Journal{"cb facade owner", "del facade owner"}));
  EXPECT_FALSE(facade->HasImpl());
  EXPECT_EQ(ft.deleted, 0);
  facade.Reset();
  EXPECT_EQ(ft.deleted, 1);
}

TEST_F(FacadeImpl, ASideOwningItsPeerReleasesItWhenTheLinkIsCut) {
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

  Tracker ft2, it2;
  Vorn::SharedPtr<TestImpl> owningImpl(new TestImpl(&it2));
  auto* ownedFacade = new TestFacade(&ft2);
  owningImpl->_LinkToFacade(ownedFacade);
  ownedFacade->GetSharedPtr()._Release();
  owningImpl->_SetOwnsFacade(true);
  owningImpl.Reset();
  EXPECT_EQ(it2.deleted, 1);
  EXPECT_EQ(ft2.deleted, 1);
}

}  // namespace
