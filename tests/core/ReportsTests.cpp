// Every report of the object core, checked in whichever mode the executable
// runs: built into the default suite (reports go to the abend log, the call
// goes on with a default) and into the exceptions suite (the same text is
// thrown). One table, so the two modes cannot drift apart.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/CoreTestSupport.h"
#include "vorn/core/Any.h"
#include "vorn/core/ErrorPolicy.h"
#include "vorn/core/Facade.h"
#include "vorn/core/Function.h"
#include "vorn/host/SysLog.h"

namespace {

class Facade : public VornBaseFacade {
public:
  using VornBaseFacade::_LinkToImpl;
};
class Impl : public VornBaseImpl {
public:
  using VornBaseImpl::_LinkToFacade;
};

// The text of the one report `f` raises, thrown or logged.
std::string ReportOf(const std::function<void()>& f) {
  KRTAbendCapture capture;
  if (Vorn::UsesStdExceptions()) {
    try {
      f();
    } catch (const std::exception& e) {
      EXPECT_EQ(capture.Count(), 0u);
      return e.what();
    }
    return "<nothing thrown>";
  }
  f();
  EXPECT_EQ(capture.Count(), 1u);
  return capture.Last();
}

// In the default mode the call goes on and answers `expected`.
template <class T>
void Answers(const T& actual, const T& expected) {
  if (!Vorn::UsesStdExceptions()) {
    EXPECT_EQ(actual, expected);
  }
}

const std::string kNull = "VornAny::IsOfSameType => Other value is null!";
const std::string kFacade = "[Vorn - Base Facade] ";
const std::string kImpl = "[Vorn - Base Impl] ";

TEST(CoreReports, EveryReportHasItsTextInEitherMode) {
  const VornAny real(2.5), one(1), empty;
  const VornAny* nullRaw = nullptr;
  Facade* facade = new Facade;
  Impl* impl = new Impl;
  Impl destroyingImpl, spareImpl;
  Facade destroyingFacade, spareFacade;
  destroyingImpl.RequestDestruction();
  destroyingFacade.RequestDestruction();

  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[] { Vorn::RaiseError("plain"); }, "plain"},
      {[] { Vorn::RaiseOverflowError("table full"); }, "table full"},
      {[] { Vorn::Function<void()>{}(); }, "[Vorn::Function] Attempt to invoke empty function!"},
      {[] { Answers(Vorn::Function<int(int)>{}(5), 0); }, "[Vorn::Function] Attempt to invoke empty function!"},
      {[] { Answers(Vorn::Function<std::string()>(nullptr)(), std::string()); },
       "[Vorn::Function] Attempt to invoke empty function!"},
      {[] { Answers(Vorn::Function<int&()>{}(), 0); }, "[Vorn::Function] Attempt to invoke empty function!"},
      {[&] { Answers(real.GetRawValue<int>(), 0); },
       "[VornAny] Type mismatch in GetRawValue<T>()!\nRequested type: 'int';Stored type: 'double'.\n"
       "Returning default value."},
      {[&] { Answers(empty.GetRawValue<std::string>(), std::string()); },
       "[VornAny] Type mismatch in GetRawValue<T>()!\nRequested type: '" +
           std::string(Vorn::RawTypeName<std::string>()) + "';Stored type: ''.\nReturning default value."},
      {[&] { Answers(one.IsOfSameType(VornAny(std::vector<int>{1}), true), false); },
       "VornAny::IsOfSameType => Type " + std::string(Vorn::RawTypeName<std::vector<int>>()) +
           " incorrect ! Excepted Type = int"},
      {[&] { Answers(empty.IsOfSameType(one, true), false); }, "VornAny::IsOfSameType => This value is empty!"},
      {[&] { Answers(empty.IsOfSameType(empty, true), false); }, "VornAny::IsOfSameType => This value is empty!"},
      {[&] { Answers(one.IsOfSameType(empty, true), false); }, "VornAny::IsOfSameType => Other value is empty!"},
      {[&] { Answers(one.IsOfSameType(&empty, true), false); }, "VornAny::IsOfSameType => Other value is empty!"},
      {[&] { Answers(one.IsOfSameType(nullRaw, true), false); }, kNull},
      {[&] { Answers(one.IsOfSameType(std::shared_ptr<VornAny>(), true), false); }, kNull},
      // The shared overload also counts a holder without a value as missing.
      {[&] { Answers(one.IsOfSameType(std::make_shared<VornAny>(), true), false); }, kNull},
      {[&] { facade->_LinkToImpl(nullptr); }, kFacade + "Cannot create a Facade from a null Implementation!"},
      {[&] { spareImpl._LinkToFacade(nullptr); }, kImpl + "Null Facade!"},
      {[&] { facade->_LinkToImpl(&destroyingImpl); },
       kFacade + "Failed to register destruction callback on the Implementation!\nThe Implementation may be "
                 "destroying itself already..."},
      {[&] { spareImpl._LinkToFacade(&destroyingFacade); },
       kImpl + "Failed to register destruction callback on the Facade!\nThe Facade may be destroying itself "
               "already..."},
      {[&] {
         facade->_LinkToImpl(impl);
         facade->_LinkToImpl(&spareImpl);
       },
       kFacade + "Already bound to an Implementation!"},
      {[&] { impl->_LinkToFacade(&spareFacade); }, kImpl + "Already bound to a Facade!"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(ReportOf(cases[i].first), cases[i].second) << "case " << i;

  // Refused partners are left as they were, the bound pair too.
  EXPECT_FALSE(spareImpl.HasFacade());
  EXPECT_FALSE(spareFacade.HasImpl());
  EXPECT_FALSE(destroyingImpl.HasFacade());
  EXPECT_TRUE(facade->HasImpl());
  EXPECT_TRUE(impl->HasFacade());
  // Without reportError nothing is reported.
  KRTAbendCapture capture;
  EXPECT_FALSE(one.IsOfSameType(real, false));
  EXPECT_FALSE(one.IsOfSameType(nullRaw, false));
  EXPECT_EQ(capture.Count(), 0u);
  // Nobody owns either side: this deletes both.
  Vorn_BaseClass::DeleteUnlessOwned(impl);
}

TEST(CoreReports, DeletingAnOwnedObjectIsRefusedInEitherMode) {
  vorn_test::Tracker tracker;
  Vorn::SharedPtr<vorn_test::Probe> handle(new vorn_test::Probe(&tracker));
  EXPECT_EQ(ReportOf([&] { Vorn_BaseClass::DeleteUnlessOwned(handle.Get()); }), vorn_test::kStillOwnedMessage);
  EXPECT_EQ(tracker.deleted, 0);
  EXPECT_TRUE(handle->IsDestroying());
  handle.Reset();
  EXPECT_EQ(tracker.deleted, 1);
  EXPECT_EQ(tracker.requestBegins, 1);
}

}  // namespace
