#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>

#include "vorn/host/Errors.h"

namespace {

template <class F>
KRTErrorPtr CatchHostError(F thrower) {
  try {
    thrower();
  } catch (const KRTErrorPtr& e) {
    return e;
  }
  return nullptr;
}

TEST(HostError, ThrowSmartPtrThrowsThePointerItselfNeverNull) {
  const auto original = std::make_shared<KRTError>("disk on fire", 42);
  EXPECT_EQ(CatchHostError([&] { KRTError::ThrowSmartPtr(original); }), original);
  const KRTErrorPtr made = CatchHostError([] { KRTError::ThrowSmartPtr("made here", 7); });
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetMessage(), "made here");
  EXPECT_EQ(made->GetCode(), 7);
  const KRTErrorPtr fromNull = CatchHostError([] { KRTError::ThrowSmartPtr(KRTErrorPtr()); });
  ASSERT_NE(fromNull, nullptr);
  EXPECT_FALSE(fromNull->GetMessage().empty());
}

TEST(HostErrorHandling, FlushDisposesOfThisThreadsCaughtErrors) {
  KRTXHContextCxx::ResetHandled();
  std::weak_ptr<KRTError> watch;
  {
    auto error = std::make_shared<KRTError>("first");
    watch = error;
    KRTXHContextCxx::CatchBlockProlog(error);
  }
  EXPECT_FALSE(watch.expired());  // kept until the flush
  KRTXHContextCxx::CatchBlockProlog(std::make_shared<KRTError>("second"));
  KRTXHContextCxx::CatchBlockProlog(nullptr);
  std::thread([] {
    EXPECT_EQ(KRTXHContextCxx::PendingCount(), 0u);
    KRTXHContextCxx::Flush();
  }).join();
  EXPECT_EQ(KRTXHContextCxx::HandledCount(), 0u);
  EXPECT_EQ(KRTXHContextCxx::PendingCount(), 2u);

  KRTXHContextCxx::Flush();
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(KRTXHContextCxx::HandledCount(), 2u);
  EXPECT_EQ(KRTXHContextCxx::LastHandledMessage(), "second");
  KRTXHContextCxx::Flush();
  EXPECT_EQ(KRTXHContextCxx::HandledCount(), 2u);
}

TEST(HostErrorScope, ScopesNestPerThread) {
  TolvTkCompatCtx outer;
  {
    TolvTkCompatCtx inner;
    EXPECT_EQ(TolvTkCompatCtx::Depth(), 2u);
    std::thread([] { EXPECT_EQ(TolvTkCompatCtx::Depth(), 0u); }).join();
  }
  EXPECT_EQ(TolvTkCompatCtx::Depth(), 1u);
}

// A host error raised while a listener's error is being handled is passed
// on with Rethrow; outside a handler Rethrow still throws a host error.
TEST(HostErrorScope, RethrowPassesOnTheErrorBeingHandled) {
  const auto handling = std::make_shared<KRTError>("raised while handling");
  const KRTErrorPtr escaped = CatchHostError([&] {
    TolvTkCompatCtx scope;
    try {
      KRTError::ThrowSmartPtr("from a listener");
    } catch (const KRTErrorPtr& e) {
      try {
        KRTXHContextCxx::CatchBlockProlog(e);
        KRTError::ThrowSmartPtr(handling);
      } catch (const KRTErrorPtr&) {
        TolvTkCompatCtx::Rethrow();
      }
    }
  });
  EXPECT_EQ(escaped, handling);
  EXPECT_EQ(TolvTkCompatCtx::Depth(), 0u);
  KRTXHContextCxx::Flush();

  EXPECT_THROW(
      {
        try {
          throw std::out_of_range("x");
        } catch (...) {
          TolvTkCompatCtx::Rethrow();
        }
      },
      std::out_of_range);
  const KRTErrorPtr outside = CatchHostError([] { TolvTkCompatCtx::Rethrow(); });
  ASSERT_NE(outside, nullptr);
  EXPECT_NE(outside->GetMessage().find("no exception"), std::string::npos);
}

}  // namespace
