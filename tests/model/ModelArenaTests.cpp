// The slabs model objects are taken from: slots never overlap, keep what was
// written in them, and slabs go back to the system when emptied. (That an
// ended tree gives back every slot is checked with the model's scale tests.)

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "vorn/model/ModelArena.h"

namespace {
struct Slot {
  unsigned char* at;
  std::size_t bytes;
  unsigned char mark;
};

Slot Take(std::size_t bytes, unsigned char mark) {
  auto* at = static_cast<unsigned char*>(VornModelArena::Allocate(bytes));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(at) % 16, 0u) << bytes;
  std::memset(at, mark, bytes);
  return {at, bytes, mark};
}

// Every byte still holds the slot's mark: no other slot overlapped it.
void Give(const Slot& slot) {
  for (std::size_t k = 0; k < slot.bytes; ++k) ASSERT_EQ(slot.at[k], slot.mark) << slot.bytes << " bytes, byte " << k;
  VornModelArena::Free(slot.at, slot.bytes);
}

std::uintptr_t SlabOf(const void* at) {
  return reinterpret_cast<std::uintptr_t>(at) & ~(VornModelArena::kSlabBytes - 1);
}

// Random sizes (both sides of the largest slot), random order of frees,
// enough slots of one size to fill several slabs. Returns the slabs used.
std::set<std::uintptr_t> Churn(unsigned seed, std::size_t rounds) {
  static constexpr std::size_t kSizes[] = {1, 16, 72, 72, 72, 192, 512, 513, 3000};
  std::mt19937 random(seed);
  std::vector<Slot> live;
  // Reserved first, so no mapping of its own can take the place of a slab given back.
  live.reserve(rounds);
  std::set<std::uintptr_t> slabs;
  for (std::size_t round = 0; round < rounds; ++round) {
    if (!live.empty() && random() % 3 == 0) {
      const std::size_t pick = random() % live.size();
      Give(live[pick]);
      live[pick] = live.back();
      live.pop_back();
    } else {
      live.push_back(Take(kSizes[random() % std::size(kSizes)], static_cast<unsigned char>(random())));
      if (live.back().bytes <= VornModelArena::kLargestSlot) slabs.insert(SlabOf(live.back().at));
    }
  }
  std::shuffle(live.begin(), live.end(), random);
  for (const Slot& slot : live) Give(slot);
  return slabs;
}
}  // namespace

TEST(VornModelArena, SlotsKeepTheirBytesAndEmptiedSlabsAreHandedBack) {
  constexpr std::size_t kSlab = VornModelArena::kSlabBytes;
  const std::size_t inUse = VornModelArena::GetBytesInUse();
  std::set<std::uintptr_t> used = Churn(7, 300000);
  // Thirty slabs of one size; slots given back are taken again before any
  // slab is mapped.
  std::vector<Slot> slots;
  for (std::size_t k = 0; k < 30 * kSlab / 512; ++k) slots.push_back(Take(512, static_cast<unsigned char>(k)));
  const std::size_t full = VornModelArena::GetMappedBytes();
  for (std::size_t k = 0; k < slots.size(); k += 2) Give(slots[k]);
  for (std::size_t k = 0; k < slots.size(); k += 2) slots[k] = Take(512, static_cast<unsigned char>(k));
  EXPECT_EQ(VornModelArena::GetMappedBytes(), full);
  EXPECT_EQ(VornModelArena::GetBytesInUse(), inUse + slots.size() * 512);
  for (const Slot& slot : slots) {
    used.insert(SlabOf(slot.at));
    Give(slot);
  }
  EXPECT_EQ(VornModelArena::GetBytesInUse(), inUse);
  // Beyond the idle ones and the one being filled, emptied slabs went back.
  EXPECT_LE(VornModelArena::GetMappedBytes(), full - (30 - VornModelArena::kIdleSlabs - 1) * kSlab);
  // Trimmed, none of them is mapped any more.
  VornModelArena::Trim();
  EXPECT_EQ(std::count_if(used.begin(), used.end(),
                          [](std::uintptr_t slab) { return msync(reinterpret_cast<void*>(slab), 1, MS_ASYNC) == 0; }),
            0);
}

TEST(VornModelArena, ThreadsTakeAndGiveConcurrently) {
  std::vector<std::thread> threads;
  for (unsigned seed = 1; seed <= 4; ++seed) threads.emplace_back(Churn, seed, 40000);
  for (std::thread& thread : threads) thread.join();
}
