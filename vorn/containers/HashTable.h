#pragma once

#include <algorithm>
#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "vorn/containers/Hash.h"
#include "vorn/core/ErrorPolicy.h"

#if defined(__GNUC__)
#define VORN_HT_INLINE inline __attribute__((always_inline))
#define VORN_HT_NOINLINE __attribute__((noinline))
#else
#define VORN_HT_INLINE inline
#define VORN_HT_NOINLINE
#endif

namespace Vorn {

namespace HashTableDetail {

// One bucket: the entry's position in the dense array and a metadata byte.
// Packed to 5 bytes so that a probe run of up to 15 buckets spans at most two
// cache lines.
#pragma pack(push, 1)
struct Bucket {
  std::uint32_t index;
  std::uint8_t meta;
};
#pragma pack(pop)
static_assert(sizeof(Bucket) == 5, "buckets must stay packed");

inline constexpr std::uint32_t kNoIndex = 0xFFFFFFFFu;
// Past the last home bucket, so that a probe (at most 15 steps) never wraps.
inline constexpr std::size_t kOverflowBuckets = 16;
// Metadata: distance * 16 + fingerprint * 2 + 1. A metadata above this would
// put an entry at distance 15.
inline constexpr unsigned kMaxMeta = 240;
inline constexpr unsigned kDistanceStep = 16;
inline constexpr std::uint8_t kMinShift = 8;
inline constexpr std::uint8_t kShiftLimit = 32;  // first shift that is refused
// A table of at most this many entries has no bucket array yet.
inline constexpr std::size_t kLinearMax = 8;

template <class T>
concept EqualityComparable = requires(const T& a, const T& b) {
  { a == b } -> std::convertible_to<bool>;
};

}  // namespace HashTableDetail

// An open-addressing map whose buckets (5 bytes each, robin-hood ordered) only
// point into a dense array of (key, value) pairs kept in insertion order.
// Iterating is a walk over that array; erasure moves the last pair into the
// hole. Once a table has buckets, the hash of every pair is stored beside
// it, so rebuilds never call Hash again.
//
// Small tables stay small. JSON objects and value records mostly hold a
// handful of keys, and a table's first bucket array (272 buckets) with room
// for as many entries costs kilobytes each. So a table of up to 8 entries
// has no bucket array and stores no hashes: a lookup compares the keys in
// order (no hashing at all), and the hashes and buckets are made when the
// ninth entry arrives (or by reserve or FindBucket). While it is at shift 8
// (up to 204 entries) its entry storage grows as entries arrive. From the
// first growth on, entries and hashes are reserved, at each rebuild, to the
// most entries the load limit lets in before the next one.
//
// Pointers and iterators to entries stay valid until the next rebuild (growth,
// reserve) or erasure, and at shift 8 until the next insertion. Not
// thread-safe; owners lock.
//
// Lookups by another key type: with a Hash and an Eq that both declare
// is_transparent, any type they accept; and a std::string-keyed table with
// the default Hash and std::equal_to<std::string> also takes std::string_view
// and C strings, without building a std::string.
template <class K, class V, class Hash = Vorn::Hash<K>, class Eq = std::equal_to<K>, unsigned MaxLoadPercent = 80>
class HashTable {
  static_assert(MaxLoadPercent > 0 && MaxLoadPercent <= 100, "MaxLoadPercent must be in 1..100");
  using Bucket = HashTableDetail::Bucket;

public:
  using key_type = K;
  using mapped_type = V;
  using value_type = std::pair<K, V>;
  using size_type = std::size_t;
  using difference_type = std::ptrdiff_t;
  using hasher = Hash;
  using key_equal = Eq;
  using reference = value_type&;
  using const_reference = const value_type&;
  using iterator = typename std::vector<value_type>::iterator;
  using const_iterator = typename std::vector<value_type>::const_iterator;

  // Returned by FindBucket for a missing key; refused by EraseAtBucket.
  static constexpr std::uint32_t kNoBucket = HashTableDetail::kNoIndex;

private:
  template <class Q>
  static constexpr bool kIsIterator =
      std::is_convertible_v<Q, iterator> || std::is_convertible_v<Q, const_iterator>;

  // Any type a transparent Hash and Eq both accept.
  template <class Q>
  static constexpr bool kTransparentKey = !std::is_same_v<std::remove_cvref_t<Q>, K> && !kIsIterator<Q> &&
                                          requires { typename Hash::is_transparent; typename Eq::is_transparent; } &&
                                          requires(const Hash& h, const Eq& e, const K& k, const Q& q) {
                                            h(q);
                                            { e(k, q) } -> std::convertible_to<bool>;
                                          };

  // Views and C strings on a std::string table whose Eq is not transparent:
  // std::equal_to<std::string> compares exactly as string_view equality does.
  template <class Q>
  static constexpr bool kStringViewKey =
      std::is_same_v<K, std::string> && std::is_same_v<Eq, std::equal_to<std::string>> &&
      !std::is_same_v<std::remove_cvref_t<Q>, K> && !kIsIterator<Q> &&
      std::is_convertible_v<const Q&, std::string_view> && requires { typename Hash::is_transparent; } &&
      requires(const Hash& h, std::string_view q) { h(q); };

public:
  // A key type find, contains, erase and try_emplace accept besides K.
  template <class Q>
  static constexpr bool kAcceptsKey = kTransparentKey<Q> || kStringViewKey<Q>;

  // ---- construction ------------------------------------------------------

  // Shift 8, no entries, and no bucket array yet (see above), so an unused
  // table costs no memory and construction cannot throw.
  HashTable() noexcept(std::is_nothrow_default_constructible_v<Hash> && std::is_nothrow_default_constructible_v<Eq>) =
      default;

  explicit HashTable(const Hash& hash, const Eq& eq = Eq()) : m_hash(hash), m_eq(eq) {}

  HashTable(std::initializer_list<value_type> init) {
    reserve(init.size());
    for (const value_type& p : init) try_emplace(p.first, p.second);
  }

  // The copy keeps the source's shift, order and bucket layout, and reserves
  // its arrays like any rebuilt table of that shift.
  HashTable(const HashTable& other) : m_hash(other.m_hash), m_eq(other.m_eq), m_shift(other.m_shift) {
    const std::size_t n = other.m_entries.size();
    if (!other.m_buckets) {  // small: the entries are the whole table
      m_entries = other.m_entries;
      return;
    }
    const std::size_t count = other._AllocatedBucketCount();
    const std::size_t room = _GrowsOnDemand() ? n : std::max(n, _EntryRoom());
    m_entries.reserve(room);
    m_entries.assign(other.m_entries.begin(), other.m_entries.end());
    _ReserveHashes(room);
    std::copy_n(other.m_hashes.get(), n, m_hashes.get());
    m_buckets.reset(new Bucket[count]);
    std::memcpy(m_buckets.get(), other.m_buckets.get(), count * sizeof(Bucket));
  }

  // The source is left as a new table: shift 8, nothing allocated.
  HashTable(HashTable&& other) noexcept
      : m_hash(std::move(other.m_hash)),
        m_eq(std::move(other.m_eq)),
        m_entries(std::move(other.m_entries)),
        m_hashes(std::move(other.m_hashes)),
        m_buckets(std::move(other.m_buckets)),
        m_hashRoom(other.m_hashRoom),
        m_shift(other.m_shift) {
    other._ResetToNew();
  }

  HashTable& operator=(const HashTable& other) {
    if (this != &other) {
      HashTable copy(other);
      swap(copy);
    }
    return *this;
  }

  HashTable& operator=(HashTable&& other) noexcept {
    if (this != &other) {
      HashTable moved(std::move(other));
      swap(moved);
    }
    return *this;
  }

  ~HashTable() = default;

  void swap(HashTable& other) noexcept {
    using std::swap;
    swap(m_hash, other.m_hash);
    swap(m_eq, other.m_eq);
    swap(m_shift, other.m_shift);
    m_entries.swap(other.m_entries);
    m_hashes.swap(other.m_hashes);
    swap(m_hashRoom, other.m_hashRoom);
    m_buckets.swap(other.m_buckets);
  }
  friend void swap(HashTable& a, HashTable& b) noexcept { a.swap(b); }

  // ---- size and iteration ------------------------------------------------

  [[nodiscard]] std::size_t size() const noexcept { return m_entries.size(); }
  [[nodiscard]] bool empty() const noexcept { return m_entries.empty(); }

  iterator begin() noexcept { return m_entries.begin(); }
  iterator end() noexcept { return m_entries.end(); }
  const_iterator begin() const noexcept { return m_entries.begin(); }
  const_iterator end() const noexcept { return m_entries.end(); }
  const_iterator cbegin() const noexcept { return m_entries.cbegin(); }
  const_iterator cend() const noexcept { return m_entries.cend(); }

  hasher hash_function() const { return m_hash; }
  key_equal key_eq() const { return m_eq; }

  // ---- lookup ------------------------------------------------------------

  // An empty table answers at once, without hashing the key.
  VORN_HT_INLINE iterator find(const K& key) { return _IteratorAt(_FindIndex(key)); }
  VORN_HT_INLINE const_iterator find(const K& key) const { return _IteratorAt(_FindIndex(key)); }
  template <class Q>
    requires kAcceptsKey<Q>
  VORN_HT_INLINE iterator find(const Q& key) {
    return _IteratorAt(_FindIndex(_LookupKey(key)));
  }
  template <class Q>
    requires kAcceptsKey<Q>
  VORN_HT_INLINE const_iterator find(const Q& key) const {
    return _IteratorAt(_FindIndex(_LookupKey(key)));
  }

  VORN_HT_INLINE bool contains(const K& key) const { return _FindIndex(key) != HashTableDetail::kNoIndex; }
  template <class Q>
    requires kAcceptsKey<Q>
  VORN_HT_INLINE bool contains(const Q& key) const {
    return _FindIndex(_LookupKey(key)) != HashTableDetail::kNoIndex;
  }

  std::size_t count(const K& key) const { return contains(key) ? 1 : 0; }
  template <class Q>
    requires kAcceptsKey<Q>
  std::size_t count(const Q& key) const {
    return contains(key) ? 1 : 0;
  }

  // The bucket holding key, or kNoBucket; the index EraseAtBucket takes. A
  // small table builds its bucket array first, so this is not const.
  std::uint32_t FindBucket(const K& key) {
    if (!_EnsureBuckets()) return kNoBucket;
    return _BucketNumber(_FindBucket(key));
  }
  template <class Q>
    requires kAcceptsKey<Q>
  std::uint32_t FindBucket(const Q& key) {
    if (!_EnsureBuckets()) return kNoBucket;
    return _BucketNumber(_FindBucket(_LookupKey(key)));
  }

  // ---- insertion ---------------------------------------------------------

  // Inserts (key, V(args...)) unless key is present; returns the entry and
  // whether it is new. An existing entry is returned untouched.
  //
  // Capacity reports ("HashTable size overflow!" when growth would pass shift
  // 31, "[InsertMetadata] Distance overflow!" when a rebuild cannot keep every
  // entry within distance 14) go through RaiseOverflowError. When the report
  // returns, the insertion returns (end(), false) without the new entry, and
  // every existing entry keeps its place: growth is decided before the new
  // entry is appended or any bucket moves, so there is never a half-inserted
  // entry to undo. (A growth that succeeded before the failing one stays.)
  template <class... Args>
  VORN_HT_INLINE std::pair<iterator, bool> try_emplace(const K& key, Args&&... args) {
    return _Emplace(key, key, std::forward<Args>(args)...);
  }
  template <class... Args>
  VORN_HT_INLINE std::pair<iterator, bool> try_emplace(K&& key, Args&&... args) {
    return _Emplace(key, std::move(key), std::forward<Args>(args)...);
  }
  // K is built from the given key only when the entry is new.
  template <class Q, class... Args>
    requires kAcceptsKey<Q> && std::is_constructible_v<K, Q&&>
  VORN_HT_INLINE std::pair<iterator, bool> try_emplace(Q&& key, Args&&... args) {
    if constexpr (kStringViewKey<Q>) {
      const std::string_view view(key);
      return _Emplace(view, view, std::forward<Args>(args)...);
    } else {
      return _Emplace(key, std::forward<Q>(key), std::forward<Args>(args)...);
    }
  }

  std::pair<iterator, bool> insert(const value_type& entry) { return try_emplace(entry.first, entry.second); }
  std::pair<iterator, bool> insert(value_type&& entry) {
    return try_emplace(std::move(entry.first), std::move(entry.second));
  }
  template <class It>
  void insert(It first, It last) {
    for (; first != last; ++first) insert(*first);
  }

  template <class M>
  std::pair<iterator, bool> insert_or_assign(const K& key, M&& value) {
    auto result = try_emplace(key, std::forward<M>(value));
    if (!result.second && result.first != end()) result.first->second = std::forward<M>(value);
    return result;
  }

  // The value for key, inserting a value-initialised one first if need be.
  // If a capacity report returns, the reference is to a scratch value outside
  // the table (reset on each such failure), as there is no entry to give.
  V& operator[](const K& key) { return _ValueOr(try_emplace(key).first); }
  V& operator[](K&& key) { return _ValueOr(try_emplace(std::move(key)).first); }
  template <class Q>
    requires kAcceptsKey<Q> && std::is_constructible_v<K, Q&&>
  V& operator[](Q&& key) {
    return _ValueOr(try_emplace(std::forward<Q>(key)).first);
  }

  // ---- erasure -----------------------------------------------------------

  // Removes key's entry; the last entry moves into its place.
  bool erase(const K& key) {
    if (!m_buckets) return _EraseSmall(_FindIndex(key));
    return _EraseFound(_FindBucket(key));
  }
  template <class Q>
    requires kAcceptsKey<Q>
  bool erase(const Q& key) {
    if (!m_buckets) return _EraseSmall(_FindIndex(_LookupKey(key)));
    return _EraseFound(_FindBucket(_LookupKey(key)));
  }

  // Returns the position of the erased entry, which now holds the entry that
  // was last (or is end()), so an erase-while-iterating loop that does not
  // advance after erasing visits every entry once.
  iterator erase(const_iterator pos) {
    const std::size_t i = static_cast<std::size_t>(pos - m_entries.cbegin());
    if (!m_buckets)
      _EraseSmall(static_cast<std::uint32_t>(i));
    else
      _EraseBucket(_BucketOfEntry(static_cast<std::uint32_t>(i)));
    return m_entries.begin() + static_cast<difference_type>(i);
  }
  iterator erase(iterator pos) { return erase(const_iterator(pos)); }

  // Erases the entry at a bucket index from FindBucket. kNoBucket, an index
  // past the bucket array or an empty bucket: nothing happens, false.
  bool EraseAtBucket(std::uint32_t bucket) {
    if (bucket == kNoBucket || !m_buckets || bucket >= _AllocatedBucketCount() || m_buckets[bucket].meta == 0) {
      return false;
    }
    _EraseBucket(bucket);
    return true;
  }

  // Removes every entry but keeps the shift and the allocated arrays, so a
  // table refilled to the same size does not rebuild again.
  void clear() noexcept {
    m_entries.clear();
    if (m_buckets) _FillEmpty(m_buckets.get(), _AllocatedBucketCount());
  }

  // Rebuilds for 2^max(8, ceil(log2 n)) home buckets; may shrink the table.
  //
  // A request for fewer home buckets than the current entries need is raised
  // to the smallest shift whose load limit (MaxLoadPercent) holds them, but no
  // higher than the current shift: reserve never loses or strands entries,
  // and reserve(0) on a full table does not grow it.
  //
  // A rebuild that cannot keep every entry within distance 14 (a hash that
  // clusters badly) reports "[InsertMetadata] Distance overflow!" and is
  // abandoned: the table keeps its previous shift and buckets, so every entry
  // stays reachable.
  void reserve(std::size_t n) {
    std::uint8_t want = HashTableDetail::kMinShift;
    if (n > 1) want = std::max<std::uint8_t>(want, static_cast<std::uint8_t>(std::bit_width(n - 1)));
    const std::uint8_t needed = std::min(_ShiftHolding(m_entries.size()), m_shift);
    if (want < needed) want = needed;
    if (want == m_shift) return;
    if (want >= HashTableDetail::kShiftLimit) {
      RaiseOverflowError("HashTable size overflow!");
      return;
    }
    _RebuildAndReserve(want);
  }

  // ---- comparison --------------------------------------------------------

  // Same size and every key of one present in the other with an equal value;
  // order does not matter.
  friend bool operator==(const HashTable& a, const HashTable& b)
    requires HashTableDetail::EqualityComparable<V>
  {
    if (a.size() != b.size()) return false;
    for (const value_type& entry : a.m_entries) {
      const std::uint32_t found = b._FindIndex(entry.first);
      if (found == HashTableDetail::kNoIndex || !(b.m_entries[found].second == entry.second)) return false;
    }
    return true;
  }

  // ---- inspection --------------------------------------------------------
  // For tests and diagnostics: the layout the invariants are stated on.

  unsigned _Shift() const noexcept { return m_shift; }
  // False while a small table has no bucket array.
  bool _HasBuckets() const noexcept { return m_buckets != nullptr; }
  std::size_t _BucketCount() const noexcept { return (std::size_t{1} << m_shift) + HashTableDetail::kOverflowBuckets; }
  // An unallocated bucket array reads as all empty.
  std::uint32_t _BucketIndex(std::size_t bucket) const noexcept {
    if (!m_buckets) return HashTableDetail::kNoIndex;
    return m_buckets[bucket].index;  // by value: no reference to a packed field
  }
  std::uint8_t _BucketMetadata(std::size_t bucket) const noexcept { return m_buckets ? m_buckets[bucket].meta : 0; }
  std::uint64_t _EntryHash(std::size_t entry) const {
    return m_buckets ? m_hashes[entry] : _HashOf(m_entries[entry].first);
  }

private:
  // ---- helpers -----------------------------------------------------------

  VORN_HT_INLINE std::size_t _Home(std::uint64_t h) const noexcept {
    return static_cast<std::size_t>(h >> (64 - m_shift));
  }
  static VORN_HT_INLINE unsigned _Meta(std::uint64_t h) noexcept { return static_cast<unsigned>(h & 14u) | 1u; }

  std::size_t _AllocatedBucketCount() const noexcept { return _BucketCount(); }

  template <class Q>
  static VORN_HT_INLINE decltype(auto) _LookupKey(const Q& key) noexcept {
    if constexpr (kStringViewKey<Q>) {
      return std::string_view(key);  // measure a C string once, not per compare
    } else {
      return (key);
    }
  }

  template <class Q>
  VORN_HT_INLINE std::uint64_t _HashOf(const Q& key) const {
    return static_cast<std::uint64_t>(m_hash(key));
  }

  template <class Q>
  VORN_HT_INLINE bool _KeyEquals(const K& stored, const Q& key) const {
    if constexpr (std::is_same_v<Q, std::string_view> && kStringViewKey<std::string_view>) {
      return std::string_view(stored) == key;
    } else {
      return m_eq(stored, key);
    }
  }

  // The index of key's entry, or kNoIndex.
  template <class Q>
  VORN_HT_INLINE std::uint32_t _FindIndex(const Q& key) const {
    if (m_entries.empty()) return HashTableDetail::kNoIndex;
    if (!m_buckets) return _FindSmall(key);
    const Bucket* b = _FindBucket(key);
    return b ? b->index : HashTableDetail::kNoIndex;
  }

  // A small table: the keys in order.
  template <class Q>
  VORN_HT_INLINE std::uint32_t _FindSmall(const Q& key) const {
    const std::uint32_t n = static_cast<std::uint32_t>(m_entries.size());
    for (std::uint32_t i = 0; i < n; ++i) {
      if (_KeyEquals(m_entries[i].first, key)) return i;
    }
    return HashTableDetail::kNoIndex;
  }

  // Only with a bucket array (or no entries).
  template <class Q>
  VORN_HT_INLINE const Bucket* _FindBucket(const Q& key) const {
    if (m_entries.empty()) return nullptr;
    const std::uint64_t h = _HashOf(key);
    unsigned m = _Meta(h);
    const Bucket* b = m_buckets.get() + _Home(h);
    // Richer entries (larger metadata) first; then candidates of our own
    // distance and fingerprint; a smaller metadata ends the search.
    while (m < b->meta) {
      ++b;
      m += HashTableDetail::kDistanceStep;
    }
    const value_type* entries = m_entries.data();
    while (m == b->meta) {
      if (_KeyEquals(entries[b->index].first, key)) [[likely]]
        return b;
      ++b;
      m += HashTableDetail::kDistanceStep;
    }
    return nullptr;
  }

  VORN_HT_INLINE iterator _IteratorAt(std::uint32_t index) noexcept {
    return index != HashTableDetail::kNoIndex ? m_entries.begin() + static_cast<difference_type>(index)
                                              : m_entries.end();
  }
  VORN_HT_INLINE const_iterator _IteratorAt(std::uint32_t index) const noexcept {
    return index != HashTableDetail::kNoIndex ? m_entries.begin() + static_cast<difference_type>(index)
                                              : m_entries.end();
  }

  // Builds the hashes and bucket array of a small table. False only if that
  // was reported to fail (it cannot with 8 entries).
  bool _EnsureBuckets() {
    if (m_buckets || m_entries.empty()) return true;
    return _Rebuild(m_shift);
  }
  std::uint32_t _BucketNumber(const Bucket* b) const noexcept {
    return b ? static_cast<std::uint32_t>(b - m_buckets.get()) : kNoBucket;
  }

  V& _ValueOr(iterator it) {
    if (it != m_entries.end()) [[likely]]
      return it->second;
    static thread_local V scratch{};
    scratch = V{};
    return scratch;
  }

  // The smallest shift (at least 8) whose load limit holds n entries.
  static std::uint8_t _ShiftHolding(std::size_t n) noexcept {
    std::uint8_t shift = HashTableDetail::kMinShift;
    while (shift < 63 && static_cast<unsigned long long>(n) * 100 >
                             (static_cast<unsigned long long>(MaxLoadPercent) << shift)) {
      ++shift;
    }
    return shift;
  }

  static void _FillEmpty(Bucket* buckets, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) buckets[i] = Bucket{HashTableDetail::kNoIndex, 0};
  }

  void _ResetToNew() noexcept {
    m_shift = HashTableDetail::kMinShift;
    m_entries.clear();
    m_hashes.reset();
    m_hashRoom = 0;
    m_buckets.reset();
  }

  // Past the first bucket array, entries and hashes get room for as many
  // entries as the load limit lets in before the next rebuild, so they never
  // reallocate between rebuilds and entry pointers stay put. (Room for every
  // bucket, as before, left a fifth of both arrays never used.) At the
  // first one they grow on demand.
  bool _GrowsOnDemand() const noexcept { return m_shift == HashTableDetail::kMinShift; }
  // The most entries the current shift holds: an insertion grows the table
  // once it has more than the load limit.
  std::size_t _EntryRoom() const noexcept {
    return static_cast<std::size_t>((static_cast<unsigned long long>(MaxLoadPercent) << m_shift) / 100) + 1;
  }

  // Room for n hashes, keeping the stored ones (one per entry) unless not
  // `keep` (a small table has none worth copying). n fits the room's 32
  // bits: shifts stop at 31 ("HashTable size overflow!").
  void _ReserveHashes(std::size_t n, bool keep = true) {
    if (n <= m_hashRoom) return;
    auto fresh = std::make_unique_for_overwrite<std::uint64_t[]>(n);
    if (keep && m_hashes) std::copy_n(m_hashes.get(), m_entries.size(), fresh.get());
    m_hashes = std::move(fresh);
    m_hashRoom = static_cast<std::uint32_t>(n);
  }

  // The stored hashes of a small table's entries, with room for growth, made
  // as it gets its buckets.
  void _HashSmallEntries() {
    const std::size_t n = m_entries.size();
    if (m_hashRoom < n + 1) _ReserveHashes(2 * n + 2, false);
    for (std::size_t i = 0; i < n; ++i) m_hashes[i] = _HashOf(m_entries[i].first);
  }

  // Room for one more hash, taken before a new entry is built so that
  // nothing can fail once the entry exists.
  void _ReserveHashSlot() {
    const std::size_t n = m_entries.size();
    if (n == m_hashRoom) [[unlikely]]
      _ReserveHashes(_GrowsOnDemand() ? std::max<std::size_t>(4, 2 * n) : std::max(_EntryRoom(), n + 1));
  }

  void _ReserveStorage() {
    if (_GrowsOnDemand()) return;
    const std::size_t room = _EntryRoom();
    m_entries.reserve(room);
    _ReserveHashes(room);
  }

  // Places every entry again from its stored hash into a new bucket array,
  // committed only when complete: a failed rebuild leaves the table as it was
  // (a small table's hashes, made here first, are not read while it stays
  // small).
  VORN_HT_NOINLINE bool _Rebuild(std::uint8_t shift) {
    using namespace HashTableDetail;
    const std::size_t count = (std::size_t{1} << shift) + kOverflowBuckets;
    std::unique_ptr<Bucket[]> fresh(new Bucket[count]);
    if (!m_buckets) _HashSmallEntries();
    Bucket* const buckets = fresh.get();
    _FillEmpty(buckets, count);
    const std::uint64_t* hashes = m_hashes.get();
    const std::uint32_t n = static_cast<std::uint32_t>(m_entries.size());
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint64_t h = hashes[i];
      unsigned m = _Meta(h);
      std::size_t b = static_cast<std::size_t>(h >> (64 - shift));
      while (m <= buckets[b].meta) {
        ++b;
        m += kDistanceStep;
      }
      std::uint32_t index = i;
      for (;;) {
        if (m >= kMaxMeta) {
          RaiseOverflowError("[InsertMetadata] Distance overflow!");
          return false;
        }
        if (buckets[b].meta == 0) {
          buckets[b] = Bucket{index, static_cast<std::uint8_t>(m)};
          break;
        }
        if (m > buckets[b].meta) {
          const Bucket displaced = buckets[b];
          buckets[b] = Bucket{index, static_cast<std::uint8_t>(m)};
          index = displaced.index;
          m = displaced.meta;
        }
        ++b;
        m += kDistanceStep;
      }
    }
    m_buckets = std::move(fresh);
    m_shift = shift;
    return true;
  }

  VORN_HT_NOINLINE void _RebuildAndReserve(std::uint8_t shift) {
    if (_Rebuild(shift)) _ReserveStorage();
  }

  // Growth rebuilds the buckets only. The entry arrays are reserved after the
  // new entry is in place, so a key or value argument that refers to an
  // existing entry is still valid while the new entry is built from it.
  VORN_HT_NOINLINE bool _Grow() {
    const std::uint8_t next =
        (m_shift < 7 || m_shift > 254) ? HashTableDetail::kMinShift : static_cast<std::uint8_t>(m_shift + 1);
    if (next >= HashTableDetail::kShiftLimit) {
      RaiseOverflowError("HashTable size overflow!");
      return false;
    }
    return _Rebuild(next);
  }

  template <class Q, class KeyArg, class... Args>
  VORN_HT_INLINE std::pair<iterator, bool> _Emplace(const Q& key, KeyArg&& keyArg, Args&&... args) {
    using namespace HashTableDetail;
    if (!m_buckets) {
      if (!m_entries.empty()) {
        const std::uint32_t found = _FindSmall(key);
        if (found != kNoIndex) return {m_entries.begin() + static_cast<difference_type>(found), false};
      }
      if (m_entries.size() < kLinearMax)
        return _AppendSmall(std::forward<KeyArg>(keyArg), std::forward<Args>(args)...);
      // The ninth entry: the hashes and buckets are made.
      if (!_Rebuild(m_shift)) return {m_entries.end(), false};
    }
    const std::uint64_t h = _HashOf(key);
    bool grew = false;
    if (static_cast<unsigned long long>(m_entries.size()) * 100 >
        (static_cast<unsigned long long>(MaxLoadPercent) << m_shift)) [[unlikely]] {
      if (!_Grow()) return {m_entries.end(), false};
      grew = true;
    }
    for (;;) {
      Bucket* const buckets = m_buckets.get();
      std::size_t b = _Home(h);
      unsigned m = _Meta(h);
      while (m < buckets[b].meta) {
        ++b;
        m += kDistanceStep;
      }
      while (m == buckets[b].meta) {
        const std::uint32_t index = buckets[b].index;
        if (_KeyEquals(m_entries[index].first, key)) {
          if (grew) _ReserveStorage();
          return {m_entries.begin() + static_cast<difference_type>(index), false};
        }
        ++b;
        m += kDistanceStep;
      }
      // b is where the new entry belongs. It fits if it lands within distance
      // 14 and no entry it pushes along passes distance 14; otherwise grow
      // first and probe again.
      if (m < kMaxMeta) {
        std::size_t e = b;
        while (buckets[e].meta != 0 && buckets[e].meta + kDistanceStep < kMaxMeta) ++e;
        if (buckets[e].meta == 0) {
          return _Place(buckets, b, e, m, h, grew, std::forward<KeyArg>(keyArg), std::forward<Args>(args)...);
        }
      }
      if (!_Grow()) {
        if (grew) _ReserveStorage();
        return {m_entries.end(), false};
      }
      grew = true;
    }
  }

  // A new entry in a table without buckets (its key known to be absent).
  template <class KeyArg, class... Args>
  std::pair<iterator, bool> _AppendSmall(KeyArg&& keyArg, Args&&... args) {
    if (m_entries.capacity() == 0) m_entries.reserve(4);  // empty: nothing an argument could refer to
    const std::uint32_t index = static_cast<std::uint32_t>(m_entries.size());
    m_entries.emplace_back(std::piecewise_construct, std::forward_as_tuple(std::forward<KeyArg>(keyArg)),
                           std::forward_as_tuple(std::forward<Args>(args)...));
    return {m_entries.begin() + static_cast<difference_type>(index), true};
  }

  template <class KeyArg, class... Args>
  VORN_HT_INLINE std::pair<iterator, bool> _Place(Bucket* buckets, std::size_t b, std::size_t e, unsigned m,
                                                  std::uint64_t h, bool grew, KeyArg&& keyArg, Args&&... args) {
    const std::uint32_t index = static_cast<std::uint32_t>(m_entries.size());
    _ReserveHashSlot();
    m_entries.emplace_back(std::piecewise_construct, std::forward_as_tuple(std::forward<KeyArg>(keyArg)),
                           std::forward_as_tuple(std::forward<Args>(args)...));
    m_hashes[index] = h;
    // Shift the run [b, e) one bucket on, each entry one step further from
    // home. Runs are short: a loop beats a call to memmove.
    for (std::size_t i = e; i != b; --i) {
      buckets[i] = Bucket{buckets[i - 1].index, static_cast<std::uint8_t>(buckets[i - 1].meta + 16)};
    }
    buckets[b] = Bucket{index, static_cast<std::uint8_t>(m)};
    if (grew) [[unlikely]]
      _ReserveStorage();
    return {m_entries.begin() + static_cast<difference_type>(index), true};
  }

  bool _EraseFound(const Bucket* b) {
    if (!b) return false;
    _EraseBucket(static_cast<std::size_t>(b - m_buckets.get()));
    return true;
  }

  // Swap-and-pop in a table without buckets.
  bool _EraseSmall(std::uint32_t i) {
    if (i == HashTableDetail::kNoIndex) return false;
    const std::size_t last = m_entries.size() - 1;
    if (i < last) {
      m_entries[i] = std::move(m_entries[last]);
    }
    m_entries.pop_back();
    return true;
  }

  // The bucket that holds entry i: within 15 buckets of its home.
  std::size_t _BucketOfEntry(std::uint32_t i) const noexcept {
    std::size_t b = _Home(m_hashes[i]);
    while (m_buckets[b].index != i) ++b;
    return b;
  }

  // Backward shift of the run after b, then swap-and-pop of the entry.
  void _EraseBucket(std::size_t b) {
    Bucket* const buckets = m_buckets.get();
    const std::uint32_t erased = buckets[b].index;
    while (buckets[b + 1].meta >= HashTableDetail::kDistanceStep) {
      buckets[b] = Bucket{buckets[b + 1].index, static_cast<std::uint8_t>(buckets[b + 1].meta - 16)};
      ++b;
    }
    buckets[b] = Bucket{HashTableDetail::kNoIndex, 0};

    const std::uint32_t last = static_cast<std::uint32_t>(m_entries.size() - 1);
    if (erased < last) {
      m_entries[erased] = std::move(m_entries[last]);
      m_hashes[erased] = m_hashes[last];
      std::size_t p = _Home(m_hashes[erased]);
      for (unsigned i = 0; i < 15; ++i, ++p) {
        if (buckets[p].index == last) {
          buckets[p].index = erased;
          break;
        }
      }
    }
    m_entries.pop_back();
  }

  // ---- fields --------------------------------------------------------------

  [[no_unique_address]] Hash m_hash{};
  [[no_unique_address]] Eq m_eq{};
  std::vector<value_type> m_entries;  // insertion order, swap-and-pop
  // The hash of m_entries[i] at i, one per entry: a bare array and its room
  // (the entries give the count), with the shift beside the room, so a
  // table is 48 bytes rather than 64 with a vector of hashes.
  std::unique_ptr<std::uint64_t[]> m_hashes;
  std::unique_ptr<Bucket[]> m_buckets;  // 2^m_shift + 16, or null while small
  std::uint32_t m_hashRoom = 0;
  std::uint8_t m_shift = HashTableDetail::kMinShift;  // log2 of the home bucket count
};

}  // namespace Vorn
