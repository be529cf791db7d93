#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvel {

// Who may talk to the network side, and which files it may serve. Every
// check here is a pure function of the request's text, so it can be tried
// against hostile input without a socket.
struct AccessPolicy {
  std::string token;                       // empty: no token (loopback listeners only)
  std::uint16_t port = 0;                  // the listener's port, as clients write it
  bool loopback = true;                    // the listener's address is a loopback one
  std::vector<std::string> allowedOrigins; // besides the server's own ("http://host:port")
  std::vector<std::string> allowedHosts;   // Host names besides loopback ones (loopback listeners)
};

// A token of 192 bits from the system's random source, as 48 hex digits.
// Throws std::runtime_error when the source cannot be read.
std::string MakeToken();

// Compares in time that depends only on the lengths, so a client cannot
// learn the token a byte at a time.
bool SameToken(std::string_view a, std::string_view b) noexcept;

// Whether the listener address is a loopback one (127.0.0.0/8, ::1).
bool IsLoopbackAddress(const std::string& host);

// The Host header check against DNS rebinding: a loopback listener answers
// only "127.0.0.1", "localhost" and "[::1]" (with the listener's port or
// none) and the allowed hosts; any other listener answers every Host (it
// requires a token anyway). A missing Host is refused.
bool HostAllowed(const AccessPolicy& policy, std::string_view host);

// The WebSocket Origin check: no Origin (a client that is not a browser)
// passes; otherwise it must be the server's own origin, "http://" followed
// by the request's (already checked) Host, or one of the allowed origins.
bool OriginAllowed(const AccessPolicy& policy, std::string_view host, std::optional<std::string_view> origin);

// The token a request carries: the "token" query parameter of `target`,
// else an "Authorization: Bearer" value, else the page's cookie (see
// TokenCookieName). Empty when there is none.
std::string RequestToken(std::string_view target, std::string_view authorization, std::string_view cookies,
                         std::uint16_t port);

// Whether a request may go on: true when the policy has no token or the
// request carries the right one.
bool TokenAccepted(const AccessPolicy& policy, std::string_view target, std::string_view authorization,
                   std::string_view cookies, bool cookieAllowed);

// The cookie the page's files are fetched with once the page was opened
// with its token (a browser fetches scripts and style sheets without the
// query). Named after the port: cookies are shared by every port of a host.
std::string TokenCookieName(std::uint16_t port);

// The file a request target names inside `root` (a canonical directory),
// or nothing: the path is percent-decoded; NUL, a backslash, an invalid
// escape or a ".." segment refuse it; "/" is "index.html"; the result,
// with symbolic links followed, must lie inside `root` and be a regular
// file.
std::optional<std::filesystem::path> ResolveWebFile(const std::filesystem::path& root, std::string_view target);

}  // namespace orvel
