#pragma once

#include <cstddef>
#include <limits>
#include <new>

#include "vorn/core/Export.h"

// Slabs for the model's nodes and properties.
//
// A large model is a great many small objects of a few sizes, each with its
// shared_ptr control block. The model takes them from slabs of kSlabBytes,
// aligned on their size, one slot size per slab, instead of from the C heap:
// - no allocator header per object, and slots rounded to 16 bytes only;
// - from a size's second slab on, the slab is advised for transparent huge
//   pages, so a fresh large model costs one page fault per 2 MiB rather
//   than one per 4 KiB (on a virtual machine a 4 KiB fault can cost more
//   than building the node that takes it). A small model keeps ordinary
//   pages: its first slab per size is touched only as far as it is used.
//
// Decisions:
// - A slab whose objects have all gone is kept for the next slab any size
//   needs, up to kIdleSlabs of them (32 MiB), and handed back to the system beyond
//   that (as a C heap keeps what it freed at its top up to a threshold): a
//   model dropped and built again does not pay its page faults again. The
//   slab a size is filling is kept (emptied) as well, so an object made and
//   dropped in a loop does not take and retire a slab each time. Trim hands
//   back every slab without objects, as malloc_trim does for the C heap.
// - A slab with one object left stays mapped whole, as a C heap's page does.
// - Requests above kLargestSlot bytes go to operator new; a failed mapping
//   throws std::bad_alloc, as operator new would.
// - Thread-safe: one mutex, held for a few dozen instructions.
// - The bookkeeping is never destroyed, so model objects that outlive the
//   library's static destruction are still freed safely.
// - Under AddressSanitizer free slots are poisoned (a use after free is
//   caught, though not after the slot is reused) and slabs are scanned for
//   pointers by the leak checker, which therefore cannot see a model object
//   leaked in a slab: GetBytesInUse is what tells that.
// - No fork handler: a child forked while another thread holds the arena's
//   mutex must not make model objects (nor call anything that does).
class VORN_API VornModelArena {
public:
  static constexpr std::size_t kSlabBytes = std::size_t{2} << 20;
  static constexpr std::size_t kLargestSlot = 512;
  static constexpr std::size_t kIdleSlabs = 16;

  static void* Allocate(std::size_t bytes);
  // `bytes` as given to Allocate.
  static void Free(void* slot, std::size_t bytes) noexcept;

  // Bytes of slabs mapped now, idle ones included: what model objects take
  // from the system besides the C heap.
  static std::size_t GetMappedBytes() noexcept;
  // Hands back every slab that holds no object; returns the bytes handed back.
  static std::size_t Trim() noexcept;
  // Bytes of the slots handed out now (each slot's rounded size), the
  // counterpart of a C heap's allocated bytes.
  static std::size_t GetBytesInUse() noexcept;
};

// A standard allocator over the arena, for std::allocate_shared and
// containers of the model.
template <class T>
class VornModelAllocator {
public:
  using value_type = T;
  static_assert(alignof(T) <= 16, "arena slots are aligned on 16 bytes");

  VornModelAllocator() noexcept = default;
  template <class U>
  VornModelAllocator(const VornModelAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(VornModelArena::Allocate(count * sizeof(T)));
  }
  void deallocate(T* pointer, std::size_t count) noexcept { VornModelArena::Free(pointer, count * sizeof(T)); }

  template <class U>
  bool operator==(const VornModelAllocator<U>&) const noexcept {
    return true;
  }
};
