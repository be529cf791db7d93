#pragma once

// The resource tree the runtime suite works on. Its directories are given
// to the executable through "KRTInstallPath" ("a;;b;") and "KRTTemp"; the
// content is (re)created before the first test:
//
//   a/resources/Vorn/DataTypes.json     {"from":"a","types":[1]}
//   a/resources/Vorn/Upper.JSON         {"which":"plain"}
//   a/resources/Vorn/Upper.JSON.json    {"which":"suffixed"}
//   a/resources/Vorn/broken.json        {"a":1,"b":      (malformed)
//   a/resources/Vorn/notes.txt
//   a/resources/Vorn/sub/inner.json     (not listed: no descent)
//   b/resources/Vorn/DataTypes.json     {"from":"b"}
//   b/resources/Vorn/OnlyB.json         {"only":"b"}
//   b/resources/Vorn/dir.json/x.json    (a directory named like a resource)
//   b/resources/Vorn/readme.md
//   temp/                               (empty)

#include <string>

namespace runtime_test {

inline const std::string kRscA = VORN_TEST_RSC_A;
inline const std::string kRscB = VORN_TEST_RSC_B;
inline const std::string kTemp = VORN_TEST_RSC_TEMP;

inline std::string VornDirA() { return kRscA + "/resources/Vorn"; }
inline std::string VornDirB() { return kRscB + "/resources/Vorn"; }

// Creates the file and its directories, with exactly `content`.
void WriteBytes(const std::string& path, const std::string& content);
// The whole content of a file ("" when it cannot be read).
std::string ReadBytes(const std::string& path);

}  // namespace runtime_test
