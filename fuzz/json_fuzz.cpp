// Fuzz target for the JSON reader and writer.
//
// Any bytes are read by the strict and the lenient parser (from memory and
// through a stream that hands out one byte at a time), by the segment reader
// and by VornJSONObject::BuildFromString. Beyond the sanitizers' checks the
// target aborts when:
// - a parse reports more than once, or the two input paths disagree;
// - a document that parsed without a report, once written, does not read
//   back strictly and without report to the same tree (integral doubles
//   written without exponent come back as integers, by design), or writing
//   that tree does not give the same text again. Negative zero is written
//   "-0", which reads back as the integer 0: only there may the second text
//   differ, and the third must then equal the second.
// - the segment reader gives anything but a non-negative integer or a string,
//   or BuildFromString anything but an object.
//
// Runs with the exceptions switch off (VORN_USE_STD_EXCEPTIONS unset), so
// reports are captured instead of thrown.
//
// Built with -DVORN_FUZZ_REPLAY_MAIN it is an ordinary program instead, which
// runs the same checks over every file of the directory given as argument.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <streambuf>
#include <string>
#include <vector>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/host/SysLog.h"
#include "vorn/json/JSON.h"
#include "vorn/json/Parser.h"

namespace {

// Hands out one byte per underflow, so that every chunk boundary of the
// stream reader is crossed.
class TrickleBuffer : public std::streambuf {
public:
  explicit TrickleBuffer(const std::string& text) : m_text(text) {}

protected:
  int_type underflow() override {
    if (m_pos >= m_text.size()) return traits_type::eof();
    m_char = m_text[m_pos++];
    setg(&m_char, &m_char, &m_char + 1);
    return traits_type::to_int_type(m_char);
  }

private:
  const std::string& m_text;
  std::size_t m_pos = 0;
  char m_char = 0;
};

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "json_fuzz: %s\n%s\n", what, detail.substr(0, 2000).c_str());
  std::abort();
}

struct Result {
  VornJSONValue value;
  std::vector<std::string> reports;
};

Result ParseText(const std::string& text, bool lenient) {
  KRTAbendCapture capture;
  VornJSONValue value = VornJSONParser::ParseText(text, lenient);
  return {std::move(value), capture.Messages()};
}

Result ParseTrickled(const std::string& text, bool lenient) {
  KRTAbendCapture capture;
  TrickleBuffer buffer(text);
  std::istream input(&buffer);
  VornJSONValue value = VornJSONParser::ParseStream(input, lenient);
  return {std::move(value), capture.Messages()};
}

// Compares a tree with the tree read back from its text.
bool SameAfterRoundTrip(const VornJSONValue& before, const VornJSONValue& after, bool& negativeZero) {
  if (const double* d = before.GetIfDouble()) {
    if (*d == 0 && std::signbit(*d)) negativeZero = true;
    // An integral double written without exponent ("2", "-0") reads back as
    // an integer; any other comes back as the very same double.
    if (const std::int64_t* n = after.GetIfInt()) return static_cast<double>(*n) == *d;
    const double* back = after.GetIfDouble();
    return back && std::memcmp(back, d, sizeof *d) == 0;
  }
  if (const VornJSONArray* array = before.GetIfArray()) {
    const VornJSONArray* back = after.GetIfArray();
    if (!back || back->size() != array->size()) return false;
    for (std::size_t i = 0; i < array->size(); ++i)
      if (!SameAfterRoundTrip(array->Get(i), back->Get(i), negativeZero)) return false;
    return true;
  }
  if (const VornJSONObject* object = before.GetIfObject()) {
    // Only parsed trees come here, so no member is undefined.
    const VornJSONObject* back = after.GetIfObject();
    if (!back || back->size() != object->size()) return false;
    auto it = back->begin();
    for (const auto& [key, value] : *object) {
      if (it->first != key || !SameAfterRoundTrip(value, it->second, negativeZero)) return false;
      ++it;
    }
    return true;
  }
  return before == after;
}

void CheckDocument(const std::string& text, bool lenient) {
  const Result direct = ParseText(text, lenient);
  if (direct.reports.size() > 1) Fail("more than one report", direct.reports[0] + "\n" + direct.reports[1]);
  const std::string written = direct.value.Stringify();

  // Byte-at-a-time reading is slow on big inputs; those stay in memory.
  if (text.size() <= 4096) {
    const Result trickled = ParseTrickled(text, lenient);
    if (trickled.reports != direct.reports) Fail("stream and text reports differ", text);
    if (trickled.value.Stringify() != written) Fail("stream and text results differ", text);
  }

  // Undefined (an empty document) writes a bare word, not JSON.
  if (!direct.reports.empty() || direct.value.IsUndefined()) return;
  const Result again = ParseText(written, false);
  if (!again.reports.empty()) Fail("written text does not read back", again.reports[0] + "\n" + written);
  bool negativeZero = false;
  if (!SameAfterRoundTrip(direct.value, again.value, negativeZero)) Fail("written text reads back different", written);
  const std::string rewritten = again.value.Stringify();
  if (rewritten == written) return;
  if (!negativeZero) Fail("writing is not a fixpoint", written + "\n" + rewritten);
  const Result third = ParseText(rewritten, false);
  if (!third.reports.empty() || third.value.Stringify() != rewritten) Fail("no fixpoint after -0", rewritten);
}

void CheckSegment(const std::string& text) {
  KRTAbendCapture capture;
  const VornJSONValue segment = VornJSONParser::ParseSegment(text);
  if (const std::int64_t* n = segment.GetIfInt()) {
    if (*n < 0) Fail("negative segment", text);
  } else if (!segment.IsString()) {
    Fail("segment is neither integer nor string", text);
  }
  if (capture.Count() > 1) Fail("more than one segment report", text);
}

void CheckBuildFromString(const std::string& text) {
  KRTAbendCapture capture;
  const VornJSONObject object = VornJSONObject::BuildFromString(text);
  // A parse fault and the object check may both report.
  if (capture.Count() > 2) Fail("too many reports from BuildFromString", text);
  (void)object.Stringify();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool exceptionsOff = !Vorn::UsesStdExceptions();
  if (!exceptionsOff) Fail("unset VORN_USE_STD_EXCEPTIONS to fuzz", "");
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckDocument(text, false);
  CheckDocument(text, true);
  CheckSegment(text);
  CheckBuildFromString(text);
  return 0;
}

#ifdef VORN_FUZZ_REPLAY_MAIN

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIRECTORY\n", argv[0]);
    return 2;
  }
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1], ec))
    if (entry.is_regular_file()) files.push_back(entry.path());
  if (ec || files.empty()) {
    std::fprintf(stderr, "no input in %s\n", argv[1]);
    return 1;
  }
  std::sort(files.begin(), files.end());
  for (const auto& path : files) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("replayed %zu inputs\n", files.size());
  return 0;
}

#endif
