#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <variant>
#include <vector>

#include "vorn/host/HostExport.h"
#include "vorn/host/Binary.h"
#include "vorn/host/UnicodeString.h"

// The host's message channel to client applications (Linux stand-in).
namespace MBX {

// A record of named members, each a string or a byte buffer, kept in the
// order they were first written.
class KRT_API Parameters {
public:
  using Value = std::variant<KRTUnicodeString, OVK::Binary>;
  struct Member {
    KRTUnicodeString key;
    Value value;
  };

  // Each writes one member. Writing a key again replaces its value (and
  // kind) in place. An empty key is refused with KRT_E_INVALID_ARGUMENT.
  std::int32_t WriteString(const KRTUnicodeString& key, const KRTUnicodeString& text);
  std::int32_t WriteBuffer(const KRTUnicodeString& key, const OVK::Binary& buffer);

  // The member's value, or null when the key is absent or holds the other
  // kind. Valid until the record changes.
  const KRTUnicodeString* FindString(const KRTUnicodeString& key) const noexcept;
  const OVK::Binary* FindBuffer(const KRTUnicodeString& key) const noexcept;
  bool Has(const KRTUnicodeString& key) const noexcept;

  std::size_t Count() const noexcept { return m_members.size(); }
  bool IsEmpty() const noexcept { return m_members.empty(); }
  const std::vector<Member>& Members() const noexcept { return m_members; }

  // Same members (keys, kinds and values) in the same order.
  bool operator==(const Parameters& other) const;

private:
  Member* _Find(const KRTUnicodeString& key) noexcept;
  const Member* _Find(const KRTUnicodeString& key) const noexcept;
  std::vector<Member> m_members;
};

// A node of the channel: emits named events, optionally to a target, with
// parameters. A status of 0 means the event was sent; anything else is a
// failure.
class KRT_API Node {
public:
  virtual ~Node();
  // An empty record to fill and pass to Emit.
  virtual Parameters CreateParameters();
  virtual std::int32_t Emit(const KRTUnicodeString& event, const Parameters& parameters) = 0;
  virtual std::int32_t Emit(const KRTUnicodeString& event, const KRTUnicodeString& target,
                            const Parameters& parameters) = 0;
};

// A node that keeps every emission instead of sending it, for tests and
// hosts without clients. It answers every Emit with a settable status
// (KRT_OK at first); emissions are recorded whatever it answers.
// Thread-safe.
class KRT_API RecordingNode : public Node {
public:
  struct Emission {
    KRTUnicodeString event;
    bool hasTarget = false;  // emitted with the target form of Emit
    KRTUnicodeString target;
    Parameters parameters;
  };

  std::int32_t Emit(const KRTUnicodeString& event, const Parameters& parameters) override;
  std::int32_t Emit(const KRTUnicodeString& event, const KRTUnicodeString& target,
                    const Parameters& parameters) override;

  void SetStatus(std::int32_t status);
  std::vector<Emission> Emissions() const;
  std::size_t Count() const;
  // The last emission; a default Emission when there is none.
  Emission Last() const;
  void Clear();

private:
  std::int32_t _Record(Emission emission);

  mutable std::mutex m_mutex;
  std::vector<Emission> m_emissions;
  std::int32_t m_status = 0;
};

}  // namespace MBX
