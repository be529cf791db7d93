#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/values/ValuesByString.h"

class VornModelObject;

// The nodes of one data tree by the value of their "id", so that a search
// whose criteria name "id" (every update by id) costs the matches, not a
// walk of the tree; its results are the walk's, in the same pre-order.
//
// A true root owns the index of its tree, and so does a new object while
// the record it is built from builds its subtree (the index is dropped
// before the object is placed, so building a large tree from one record
// stays linear); every other node of the tree
// records the index and the parent that placed it there
// (VornModelObject::m_tree and m_treeParent), which only the index changes.
// Kept exact through every set, add, removal and destruction. Disabled for
// good when a node turns out to be placed twice (one handle added under two
// parents): searches of that tree then walk.
//
// A model object reaches its index through private members of its own that
// are defined in ModelTreeIndex.cpp, so that ModelObject.cpp need not
// include this file: the index reads model objects, not the other way round.
class VornModelTreeIndex {
public:
  using Ptr = std::shared_ptr<VornModelObject>;

  VornModelTreeIndex(bool idIndexable, bool idIsID) : m_idIndexable(idIndexable), m_idIsID(idIsID) {}
  // The index of a true root's tree: ids are indexed when the property
  // dictionaries declare "id" as a plain string (or leave it unknown).
  static std::shared_ptr<VornModelTreeIndex> ForTrueRoot();

  // Files the subtree of `child`, which `parent` (a node of this tree) has
  // just taken as a child.
  void Attach(VornModelObject& parent, VornModelObject& child);
  // Takes out the subtree of `child` (a node of this tree), which its parent
  // has just let go or which is going away.
  void Detach(VornModelObject& child);
  // Gives `node` (a node of this tree) the identifier `id`, refiling it.
  void Rekey(VornModelObject& node, std::string id);
  // The nodes matching `criteria` among the descendants of `from` (a node
  // of this tree; its children only with `directOnly`), appended to `out`
  // in the walk's pre-order. False, with nothing appended, when the index
  // cannot answer (disabled, ids not indexed, no string "id" in the
  // criteria): the caller walks.
  bool Find(const VornModelObject& from, const VornValuesByString& criteria, bool directOnly, bool idOnly,
            std::vector<Ptr>& out) const;

private:
  void _File(VornModelObject* node);
  void _Unfile(VornModelObject* node);
  void _Disable();
  void _Grow();

  // Open addressing, linear probing, by the hash of each node's own
  // identifier, kept beside the node: a probe compares hashes in one
  // sequential run of slots and reads a node only when its hash matches,
  // and growing moves slots without reading any node. In a large tree each
  // node read is a cache miss, and where the slots chained through the
  // nodes, growing and searching for an identifier not yet there (every new
  // record) read a node at each step. 12 bytes a slot (packed: 16 took
  // about 20 more bytes per node), at most half of them taken: 24 to 48
  // bytes per node. A node leaves the index before its identifier changes;
  // removal shifts the run back, so no slot is a tombstone.
#pragma pack(push, 4)
  struct _Slot {
    std::uint32_t hash = 0;
    VornModelObject* node = nullptr;  // null: free
  };
#pragma pack(pop)
  // Into the first free slot of its run (one is free: growth keeps half).
  void _Place(_Slot slot);
  std::vector<_Slot> m_slots;
  std::size_t m_count = 0;
  bool m_disabled = false;
  bool m_idIndexable = false;  // "id" is declared as a plain string (or unknown)
  bool m_idIsID = false;       // "id" is declared an ID property
};
