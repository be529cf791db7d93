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
