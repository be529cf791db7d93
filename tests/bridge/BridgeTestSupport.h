#pragma once

// Helpers shared by the bridging suites.

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "vorn/json/Array.h"
#include "vorn/json/Object.h"
#include "vorn/json/Parser.h"
#include "vorn/json/Value.h"

namespace bridge_test {

// A value from JSON text (strict).
inline VornJSONValue J(const std::string& text) { return VornJSONParser::ParseText(text, false); }

// Compact text of a value, for comparisons that read well in failures.
inline std::string S(const VornJSONValue& value) { return value.Stringify(); }

using Path = std::vector<std::string>;

// A fresh directory under the system's temporary directory, removed with its
// content at the end of the scope.
class ScratchDir {
public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vorn-bridge-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
    m_path = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Writes `content` to the file `name` of the directory; returns its path.
  std::string Write(const std::string& name, const std::string& content) const {
    const std::filesystem::path p = m_path / name;
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
  }
  std::string Str() const { return m_path.string(); }

private:
  std::filesystem::path m_path;
};

}  // namespace bridge_test
