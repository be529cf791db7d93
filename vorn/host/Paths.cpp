#include "vorn/host/Paths.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::string KRTNativePath(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

namespace {

// Absolute path of dir/relative if it exists, else empty.
std::string Probe(std::string_view dir, const std::string& relative) {
  std::error_code ec;
  fs::path candidate(KRTNativePath(dir));
  if (!relative.empty()) candidate /= fs::path(relative).relative_path();
  if (!fs::exists(candidate, ec) || ec) return {};
  fs::path absolute = fs::absolute(candidate, ec);
  if (ec) return {};
  std::string out = absolute.lexically_normal().string();
  // "dir/" normalises to "dir/"; keep the root's own slash only.
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

}  // namespace

std::string KRTFindPath(const char* relativePath, const char* dirList) {
  if (!relativePath || !dirList) return {};
  const std::string relative = KRTNativePath(relativePath);
  std::string_view rest(dirList);
  while (true) {
    const std::size_t sep = rest.find(';');
    const std::string_view dir = rest.substr(0, sep);
    if (!dir.empty()) {
      std::string found = Probe(dir, relative);
      if (!found.empty()) return found;
    }
    if (sep == std::string_view::npos) return {};
    rest.remove_prefix(sep + 1);
  }
}
