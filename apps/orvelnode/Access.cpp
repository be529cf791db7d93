#include "Access.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>

#include <arpa/inet.h>

namespace orvel {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decoding; nothing for a broken escape.
std::optional<std::string> Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

// The value of `key` in a query string ("a=1&token=x"), decoded.
std::string QueryValue(std::string_view query, std::string_view key) {
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const std::size_t eq = pair.find('=');
    if (eq != std::string_view::npos && pair.substr(0, eq) == key) {
      auto decoded = Decode(pair.substr(eq + 1));
      return decoded ? *decoded : std::string();
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return {};
}

bool IsLoopbackName(std::string_view name) { return name == "127.0.0.1" || name == "localhost" || name == "[::1]"; }

}  // namespace

std::string MakeToken() {
  unsigned char bytes[24];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::system_error(errno, std::generic_category(), "cannot read the system's random source");
    got += static_cast<std::size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) token += kHex[b >> 4], token += kHex[b & 15];
  return token;
}

bool SameToken(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

bool IsLoopbackAddress(const std::string& host) {
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool HostAllowed(const AccessPolicy& policy, std::string_view host) {
  host = Trim(host);
  if (host.empty()) return false;
  if (!policy.loopback) return true;
  // "name" or "name:port"; an IPv6 literal keeps its brackets.
  std::string_view name = host;
  const std::size_t colon = host.rfind(':');
  if (colon != std::string_view::npos && host.find(']', colon) == std::string_view::npos) {
    if (host.substr(colon + 1) != std::to_string(policy.port)) return false;
    name = host.substr(0, colon);
  }
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return IsLoopbackName(lower) ||
         std::find(policy.allowedHosts.begin(), policy.allowedHosts.end(), lower) != policy.allowedHosts.end();
}

bool OriginAllowed(const AccessPolicy& policy, std::string_view host, std::optional<std::string_view> origin) {
  if (!origin) return true;
  const std::string_view given = Trim(*origin);
  if (given == "http://" + std::string(Trim(host))) return true;
  return std::find(policy.allowedOrigins.begin(), policy.allowedOrigins.end(), given) != policy.allowedOrigins.end();
}

std::string TokenCookieName(std::uint16_t port) { return "orvelnode-token-" + std::to_string(port); }

std::string RequestToken(std::string_view target, std::string_view authorization, std::string_view cookies,
                         std::uint16_t port) {
  if (const std::size_t q = target.find('?'); q != std::string_view::npos) {
    std::string fromQuery = QueryValue(target.substr(q + 1), "token");
    if (!fromQuery.empty()) return fromQuery;
  }
  authorization = Trim(authorization);
  if (authorization.size() > 7 && authorization.substr(0, 7) == "Bearer ") return std::string(Trim(authorization.substr(7)));
  const std::string name = TokenCookieName(port) + "=";
  while (!cookies.empty()) {
    const std::size_t semi = cookies.find(';');
    const std::string_view cookie = Trim(cookies.substr(0, semi));
    if (cookie.substr(0, name.size()) == name) return std::string(cookie.substr(name.size()));
    if (semi == std::string_view::npos) break;
    cookies.remove_prefix(semi + 1);
  }
  return {};
}

bool TokenAccepted(const AccessPolicy& policy, std::string_view target, std::string_view authorization,
                   std::string_view cookies, bool cookieAllowed) {
  if (policy.token.empty()) return true;
  return SameToken(RequestToken(target, authorization, cookieAllowed ? cookies : std::string_view(), policy.port),
                   policy.token);
}

std::optional<std::filesystem::path> ResolveWebFile(const std::filesystem::path& root, std::string_view target) {
  const std::optional<std::string> decoded = Decode(target.substr(0, target.find('?')));
  if (!decoded || decoded->empty() || decoded->front() != '/') return std::nullopt;
  const std::string& path = *decoded;
  if (path.find('\0') != std::string::npos || path.find('\\') != std::string::npos) return std::nullopt;
  std::filesystem::path relative;
  std::size_t start = 1;
  while (start <= path.size()) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    const std::string segment = path.substr(start, slash - start);
    if (segment == "..") return std::nullopt;
    if (!segment.empty() && segment != ".") relative /= segment;
    start = slash + 1;
  }
  if (relative.empty()) relative = "index.html";
  std::error_code ec;
  const std::filesystem::path file = std::filesystem::weakly_canonical(root / relative, ec);
  if (ec) return std::nullopt;
  // Inside the root: the root's components are a prefix of the file's.
  auto [rootEnd, fileAt] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
  if (rootEnd != root.end() || fileAt == file.end()) return std::nullopt;
  if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
  return file;
}

}  // namespace orvel
