// Identifiers, the process questions and aligned memory.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "vorn/host/Application.h"
#include "vorn/host/TestApplication.h"
#include "vorn/runtime/Process.h"

namespace {

TEST(GenerateUUID, GivesFreshCanonicalVersion4Identifiers) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    const std::string id = Vorn::GenerateUUID();
    ASSERT_EQ(id.size(), 36u) << id;
    for (std::size_t p = 0; p < id.size(); ++p) {
      if (p == 8 || p == 13 || p == 18 || p == 23)
        EXPECT_EQ(id[p], '-') << id;
      else
        EXPECT_NE(std::strchr("0123456789abcdef", id[p]), nullptr) << id;
    }
    EXPECT_EQ(id[14], '4') << id;
    EXPECT_NE(std::strchr("89ab", id[19]), nullptr) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 50u);
}

TEST(NodeHost, PathTestIgnoresCaseAndPlace) {
  for (const char* path : {"/opt/app/orvelnode", "/opt/OrvelNode/bin/host", "/opt/my-ORVELNODE-24.exe",
                           "/d\xC3\xA9p\xC3\xB4t/\xFF/ORVELnode"})
    EXPECT_TRUE(Vorn::_Internal_::IsNodeHostPath(path)) << path;
  for (const char* path : {"/opt/bin/orvel-node", "/opt/bin/orvelnod", ""})
    EXPECT_FALSE(Vorn::_Internal_::IsNodeHostPath(path)) << path;
  EXPECT_TRUE(Vorn::_Internal_::IsNodeHostPath("/" + std::string(400, 'x') + "/orvelnode"));  // no length limit
}

TEST(InteractiveApplication, AnswerIsTakenOnceFromTheMainApplication) {
  KRTTestInteractiveApplication application;
  {
    KRTScopedMainApplication installed(&application);
    EXPECT_TRUE(Vorn::IsKRTInteractiveApplication());
  }
  ASSERT_EQ(KRTApplication::MainApplication(), nullptr);
  EXPECT_TRUE(Vorn::IsKRTInteractiveApplication());  // kept from the first call
}

TEST(AlignedMemory, HonoursTheAlignmentOrRefuses) {
  for (std::uint64_t alignment : {1u, 8u, 16u, 64u, 4096u}) {
    void* p = Vorn::AlignedAlloc(100, alignment);
    ASSERT_NE(p, nullptr) << alignment;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignment, 0u) << alignment;
    std::memset(p, 0xAB, 100);
    Vorn::AlignedFree(p, alignment);
  }
  void* odd = Vorn::AlignedAlloc(3, 256);  // sizes need not be multiples of the alignment
  ASSERT_NE(odd, nullptr);
  Vorn::AlignedFree(odd, 256);
  EXPECT_EQ(Vorn::AlignedAlloc(64, 48), nullptr);
  Vorn::AlignedFree(nullptr, 8);
  Vorn::AlignedFree(nullptr, 64);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // sanitizers abort on impossible sizes instead
  EXPECT_THROW((void)Vorn::AlignedAlloc(~std::uint64_t{0} / 2, 8), std::bad_alloc);
#endif
}

}  // namespace
