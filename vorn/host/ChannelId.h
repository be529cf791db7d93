#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace OVK {

// Identifies a client application's channel. The host chooses the values;
// the library only copies, compares and hashes them. 0 is "no channel".
class ChannelId {
public:
  constexpr ChannelId() noexcept = default;
  constexpr explicit ChannelId(std::uint64_t value) noexcept : m_value(value) {}

  constexpr std::uint64_t Value() const noexcept { return m_value; }
  constexpr bool IsValid() const noexcept { return m_value != 0; }

  friend constexpr bool operator==(ChannelId, ChannelId) noexcept = default;
  friend constexpr auto operator<=>(ChannelId, ChannelId) noexcept = default;

private:
  std::uint64_t m_value = 0;
};

}  // namespace OVK

template <>
struct std::hash<OVK::ChannelId> {
  std::size_t operator()(OVK::ChannelId id) const noexcept { return std::hash<std::uint64_t>{}(id.Value()); }
};
