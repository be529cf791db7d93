// The error policy and every report of the object core, in whichever mode the
// executable runs (logged with a default answer, or thrown): one table, so the
// modes cannot drift apart.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

#include "core/CoreTestSupport.h"
#include "vorn/core/Any.h"
#include "vorn/core/Function.h"

using namespace vorn_test;

namespace {

// Sets an unset variable, unsets a set one.
void Flip(const char* name) { std::getenv(name) ? ::unsetenv(name) : ::setenv(name, "", 1); }

TEST(ErrorPolicy, SwitchesAreReadOnceAtLoadAndLogLinesAreTagged) {
  // ctest runs this file with the switches unset, with exceptions set to ""
  // (an empty value counts) and with logs set.
  const bool exceptions = std::getenv("VORN_USE_STD_EXCEPTIONS") != nullptr;
  const bool logs = std::getenv("VORN_LOGS_ENABLED") != nullptr;
  // Flipping them now changes nothing.
  for (const char* name : {"VORN_USE_STD_EXCEPTIONS", "VORN_LOGS_ENABLED"}) Flip(name);
  testing::internal::CaptureStdout();
  Vorn::LogError("msg");
  Vorn::LogError(std::string("multi\nline"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), logs ? "[Vorn][ERROR] msg\n[Vorn][ERROR] multi\nline\n" : "");
  EXPECT_EQ(Vorn::UsesStdExceptions(), exceptions);
  EXPECT_EQ(Vorn::LogsEnabled(), logs);
  for (const char* name : {"VORN_USE_STD_EXCEPTIONS", "VORN_LOGS_ENABLED"}) Flip(name);
}

const std::string kNull = "VornAny::IsOfSameType => Other value is null!";
const std::string kFacade = "[Vorn - Base Facade] ";
const std::string kImpl = "[Vorn - Base Impl] ";

TEST(CoreReports, EveryReportHasItsTextInEitherMode) {
  const VornAny real(2.5), one(1), empty;
  const VornAny* nullRaw = nullptr;
  auto* facade = new TestFacade;
  auto* impl = new TestImpl;
  TestImpl destroyingImpl, spareImpl;
  TestFacade destroyingFacade, spareFacade;
  destroyingImpl.RequestDestruction();
  destroyingFacade.RequestDestruction();

  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[] { Vorn::RaiseError("plain"); }, "plain"},
      {[] { Vorn::RaiseError(std::string("text")); }, "text"},
      {[] { Vorn::RaiseOverflowError("table full"); }, "table full"},
      {[] { Vorn::Function<void()>{}(); }, "[Vorn::Function] Attempt to invoke empty function!"},
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
  // Without reportError nothing is reported.
  KRTAbendCapture capture;
  EXPECT_FALSE(one.IsOfSameType(real, false));
  EXPECT_FALSE(one.IsOfSameType(nullRaw, false));
  EXPECT_EQ(capture.Count(), 0u);
  // Nobody owns either side: this deletes both.
  Vorn_BaseClass::DeleteUnlessOwned(impl);
}

TEST(CoreReports, DeletingAnOwnedObjectIsRefusedInEitherMode) {
  Tracker tracker;
  Vorn::SharedPtr<Probe> handle(new Probe(&tracker));
  EXPECT_EQ(ReportOf([&] { Vorn_BaseClass::DeleteUnlessOwned(handle.Get()); }), kStillOwnedMessage);
  EXPECT_EQ(tracker.deleted, 0);
  EXPECT_TRUE(handle->IsDestroying());
  handle.Reset();
  EXPECT_EQ(tracker.deleted, 1);
  EXPECT_EQ(tracker.requestBegins, 1);
}

}  // namespace
