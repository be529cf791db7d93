#include "vorn/model/ModelArena.h"

#include <sys/mman.h>

#include <cstdint>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#define VORN_ARENA_POISON(at, bytes) ASAN_POISON_MEMORY_REGION(at, bytes)
#define VORN_ARENA_UNPOISON(at, bytes) ASAN_UNPOISON_MEMORY_REGION(at, bytes)
#else
#define VORN_ARENA_POISON(at, bytes) ((void)(at), (void)(bytes))
#define VORN_ARENA_UNPOISON(at, bytes) ((void)(at), (void)(bytes))
#endif

namespace {
constexpr std::size_t kSlab = VornModelArena::kSlabBytes;
constexpr std::size_t kGrain = 16;
constexpr std::size_t kSizes = VornModelArena::kLargestSlot / kGrain;

// At the start of each slab; a slot finds its slab by rounding its address
// down to the slab size.
struct Slab {
  std::size_t slot;
  std::size_t live = 0;
  std::size_t next = 0;  // offset of the first slot never handed out
  void* freed = nullptr;  // slots given back, linked through their first word
  Slab* before = nullptr;  // the size's list of slabs with room, the filling one excepted
  Slab* after = nullptr;  // also links the idle slabs
  bool listed = false;
  bool advised = false;  // for huge pages
};
constexpr std::size_t kHeader = (sizeof(Slab) + kGrain - 1) / kGrain * kGrain;

struct Size {
  Slab* filling = nullptr;
  Slab* roomy = nullptr;
  std::size_t slabs = 0;
};

struct Arena {
  std::mutex lock;
  Size sizes[kSizes];
  Slab* idle = nullptr;
  std::size_t idleCount = 0;
  std::size_t mapped = 0;
  std::size_t inUse = 0;
};

Arena& TheArena() {
  static Arena* const arena = new Arena;
  return *arena;
}

char* At(Slab* slab, std::size_t offset) { return reinterpret_cast<char*>(slab) + offset; }

void* MapSlab() {
  // Twice the size, then the unaligned ends are unmapped.
  void* raw = mmap(nullptr, 2 * kSlab, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kSlab - 1) & ~(kSlab - 1);
  if (aligned > start) munmap(raw, aligned - start);
  if (const std::size_t tail = start + kSlab - aligned) munmap(reinterpret_cast<void*>(aligned + kSlab), tail);
  auto* memory = reinterpret_cast<void*>(aligned);
#if defined(__SANITIZE_ADDRESS__)
  __lsan_register_root_region(memory, kSlab);
#endif
  VORN_ARENA_POISON(static_cast<char*>(memory) + kHeader, kSlab - kHeader);
  return memory;
}

void UnmapSlab(Arena& arena, Slab* slab) {
  arena.mapped -= kSlab;
  VORN_ARENA_UNPOISON(At(slab, 0), kSlab);
#if defined(__SANITIZE_ADDRESS__)
  __lsan_unregister_root_region(slab, kSlab);
#endif
  munmap(slab, kSlab);
}

void List(Size& size, Slab* slab) {
  slab->before = nullptr;
  slab->after = size.roomy;
  if (size.roomy) size.roomy->before = slab;
  size.roomy = slab;
  slab->listed = true;
}

void Unlist(Size& size, Slab* slab) {
  (slab->before ? slab->before->after : size.roomy) = slab->after;
  if (slab->after) slab->after->before = slab->before;
  slab->listed = false;
}

// An idle slab if there is one, else a new mapping; its slots are poisoned.
Slab* TakeSlab(Arena& arena, std::size_t slot, bool hugePages) {
  void* memory = arena.idle;
  bool advised = false;
  if (memory) {
    advised = arena.idle->advised;
    arena.idle = arena.idle->after;
    --arena.idleCount;
  } else {
    memory = MapSlab();
    arena.mapped += kSlab;
  }
  // Advice only: where huge pages are off the slab simply keeps small ones.
  if (hugePages && !advised) advised = madvise(memory, kSlab, MADV_HUGEPAGE) == 0;
  auto* slab = new (memory) Slab{slot};
  slab->next = kHeader;
  slab->advised = advised;
  return slab;
}

// An emptied slab, no longer its size's: kept idle while there is room for
// it, else handed back.
void RetireSlab(Arena& arena, Slab* slab) {
  if (arena.idleCount < VornModelArena::kIdleSlabs) {
    VORN_ARENA_POISON(At(slab, kHeader), kSlab - kHeader);
    slab->after = arena.idle;
    arena.idle = slab;
    ++arena.idleCount;
    return;
  }
  UnmapSlab(arena, slab);
}

bool HasRoom(const Slab* slab) { return slab->freed || slab->next + slab->slot <= kSlab; }
}  // namespace

void* VornModelArena::Allocate(std::size_t bytes) {
  if (bytes > kLargestSlot) return ::operator new(bytes);
  const std::size_t index = bytes == 0 ? 0 : (bytes - 1) / kGrain;
  Arena& arena = TheArena();
  std::lock_guard<std::mutex> hold(arena.lock);
  Size& size = arena.sizes[index];
  Slab* slab = size.filling;
  if (!slab || !HasRoom(slab)) {
    // A full filling slab is listed again when one of its slots comes back.
    if (size.roomy) {
      slab = size.roomy;
      Unlist(size, slab);
    } else {
      slab = TakeSlab(arena, (index + 1) * kGrain, size.slabs > 0);
      ++size.slabs;
    }
    size.filling = slab;
  }
  void* slot;
  if (slab->freed) {
    slot = slab->freed;
    VORN_ARENA_UNPOISON(slot, slab->slot);
    slab->freed = *static_cast<void**>(slot);
  } else {
    slot = At(slab, slab->next);
    VORN_ARENA_UNPOISON(slot, slab->slot);
    slab->next += slab->slot;
  }
  ++slab->live;
  arena.inUse += slab->slot;
  return slot;
}

void VornModelArena::Free(void* slot, std::size_t bytes) noexcept {
  if (!slot) return;
  if (bytes > kLargestSlot) {
    ::operator delete(slot);
    return;
  }
  auto* slab = reinterpret_cast<Slab*>(reinterpret_cast<std::uintptr_t>(slot) & ~(kSlab - 1));
  Arena& arena = TheArena();
  std::lock_guard<std::mutex> hold(arena.lock);
  Size& size = arena.sizes[(slab->slot / kGrain) - 1];
  *static_cast<void**>(slot) = slab->freed;
  slab->freed = slot;
  VORN_ARENA_POISON(slot, slab->slot);
  arena.inUse -= slab->slot;
  if (--slab->live > 0) {
    if (slab != size.filling && !slab->listed) List(size, slab);
    return;
  }
  if (slab == size.filling) {
    // Kept for the next object of its size, from its start again.
    slab->freed = nullptr;
    slab->next = kHeader;
    return;
  }
  if (slab->listed) Unlist(size, slab);
  --size.slabs;
  RetireSlab(arena, slab);
}

std::size_t VornModelArena::Trim() noexcept {
  Arena& arena = TheArena();
  std::lock_guard<std::mutex> hold(arena.lock);
  const std::size_t before = arena.mapped;
  for (Size& size : arena.sizes) {
    if (!size.filling || size.filling->live > 0) continue;
    UnmapSlab(arena, size.filling);
    size.filling = nullptr;
    --size.slabs;
  }
  while (Slab* slab = arena.idle) {
    arena.idle = slab->after;
    UnmapSlab(arena, slab);
  }
  arena.idleCount = 0;
  return before - arena.mapped;
}

std::size_t VornModelArena::GetMappedBytes() noexcept {
  Arena& arena = TheArena();
  std::lock_guard<std::mutex> hold(arena.lock);
  return arena.mapped;
}

std::size_t VornModelArena::GetBytesInUse() noexcept {
  Arena& arena = TheArena();
  std::lock_guard<std::mutex> hold(arena.lock);
  return arena.inUse;
}
