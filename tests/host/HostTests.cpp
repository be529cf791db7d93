// Host strings, UUIDs, Base64, message parameters, files and directories, the
// application, and host errors.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "common/TempDir.h"
#include "support/TestApplication.h"
#include "vorn/host/Application.h"
#include "vorn/host/Binary.h"
#include "vorn/host/CodePage.h"
#include "vorn/host/Directory.h"
#include "vorn/host/Errors.h"
#include "vorn/host/Files.h"
#include "vorn/host/Message.h"
#include "vorn/host/Paths.h"
#include "vorn/host/Status.h"
#include "vorn/host/UnicodeString.h"
#include "vorn/host/Uuid.h"

namespace {

KRTUnicodeString FromBytes(const std::string& bytes) {
  KRTUnicodeString s;
  EXPECT_EQ(s.BuildFromUTF8(bytes.data(), bytes.size()), KRT_OK);
  return s;
}

TEST(UnicodeString, BuildKeepsEveryByteWhileTheNarrowFormStopsAtNul) {
  const std::string bytes("ab\0cd", 5);
  KRTUnicodeString s = FromBytes(bytes);
  EXPECT_EQ(s.View(), bytes);
  EXPECT_EQ(s.SizeInBytes(), 5u);
  EXPECT_STREQ(static_cast<const char*>(s), "ab");
  EXPECT_FALSE(s == "ab");  // content comparison sees the NUL, not pointers

  EXPECT_EQ(s.BuildFromUTF8(nullptr, 3), KRT_E_INVALID_ARGUMENT);  // refused, unchanged
  EXPECT_EQ(s.View(), bytes);
  EXPECT_EQ(s.BuildFromUTF8(nullptr, 0), KRT_OK);
  EXPECT_STREQ(s.CastToCharPtr(), "");
  EXPECT_TRUE(KRTUnicodeString(static_cast<const char*>(nullptr)) == "");
}

TEST(UnicodeString, FindIllFormedUTF8GivesTheFirstBadOffset) {
  const std::pair<std::string, std::size_t> texts[] = {
      {"plain", std::string::npos}, {"\xc3\xa9\xe0\xa4\x85\xf0\x9f\x98\x80", std::string::npos},
      {"a\xc3", 1},                 {"ab\xc0\xaf", 2},        {"\xe0\x80\xaf", 0},  // overlong
      {"\xed\xa0\x80", 0},          {"\xf4\x90\x80\x80", 0},  {"\xff", 0},          {"x\xe2\x82", 1},
      // Longer than a word: ASCII runs are skipped eight bytes at a time.
      {"0123456789abcdef\xff", 16}, {"0123456\xe2\x82\xac" "9abcdefgh", std::string::npos}, {"01234567\xc3", 8},
      {"0123456\xff" "89abcdef", 7}};
  for (const auto& [text, offset] : texts) EXPECT_EQ(KRTUnicodeString::FindIllFormedUTF8(text), offset) << text;
}

TEST(UnicodeString, ConvertToUTF8ReportsThenCopiesWithoutTerminator) {
  const KRTUnicodeString s("h\xC3\xA9llo");  // 5 characters, 6 bytes
  std::size_t length = 0;
  ASSERT_EQ(s.ConvertToUTF8(nullptr, &length), KRT_OK);
  EXPECT_EQ(length, 6u);

  char buffer[8] = "#######";
  length = 5;  // one byte short: refused, nothing written, the need reported
  EXPECT_EQ(s.ConvertToUTF8(buffer, &length), KRT_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(buffer[0], '#');
  ASSERT_EQ(s.ConvertToUTF8(buffer, &length), KRT_OK);  // exact capacity
  EXPECT_EQ(std::string(buffer, 7), "h\xC3\xA9llo#");
  EXPECT_EQ(s.ConvertToUTF8(buffer, nullptr), KRT_E_INVALID_ARGUMENT);
}

TEST(UnicodeString, LengthCountsCodePointsAndEachMalformedByte) {
  const std::pair<std::string, std::size_t> cases[] = {
      {"", 0}, {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 4},        // one character of each width
      {"\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", 4},  // boundary code points
      {"\x80", 1}, {"\xE2\x82", 2}, {"\xE2" "a", 2},                // lone continuation byte; truncated
      {"\xC0\xAF", 2}, {"\xE0\x80\xAF", 3}, {"\xF0\x80\x80\xAF", 4},  // overlong forms
      {"\xED\xA0\x80", 3}, {"\xF4\x90\x80\x80", 4},                  // a surrogate; above U+10FFFF
      {"\xC3\xA9\x80\xC3\xA9", 3},                                   // stray byte between valid characters
  };
  for (const auto& [bytes, expected] : cases) EXPECT_EQ(FromBytes(bytes).GetLengthInChar(), expected) << bytes;
}

TEST(UnicodeString, CompareAnswersTwoForEqualAndOrdersByCodePoint) {
  // Bytes above 0x7F sort after ASCII, as their code points do.
  const std::tuple<const char*, const char*, int> cases[] = {{"abc", "abc", 2}, {"abc", "abd", KRTUnicodeString::kLess},
      {"abc", "ab", KRTUnicodeString::kGreater}, {"\xC3\xA9", "z", KRTUnicodeString::kGreater}};
  for (const auto& [a, b, order] : cases) EXPECT_EQ(KRTUnicodeString(a).Compare(KRTUnicodeString(b)), order) << a << b;
}

TEST(Uuid, FormatsOfKnownBytes) {
  KRTUuid::Bytes bytes;
  for (unsigned i = 0; i < 16; ++i) bytes[i] = static_cast<unsigned char>(i * 0x11);
  const KRTUuid id(bytes);
  EXPECT_EQ(id.ToString(KRTUuid::kFormatCanonical), "00112233-4455-6677-8899-aabbccddeeff");
  EXPECT_EQ(id.ToString(KRTUuid::kFormatBraced), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  EXPECT_EQ(id.ToString(KRTUuid::kFormatCompact), "00112233445566778899aabbccddeeff");
}

// Random identifiers come from a per-thread block of random bytes: a forked child must not hand out
// the ones its parent has yet to use, nor a thread those of another.
TEST(Uuid, NeverRepeatedAcrossThreadsOrAFork) {
  const std::string first = KRTUuid().ToString();  // the block is drawn
  std::string other;
  std::thread([&] { other = KRTUuid().ToString(); }).join();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    const std::string id = KRTUuid().ToString();
    _exit(write(fds[1], id.data(), id.size()) == static_cast<ssize_t>(id.size()) ? 0 : 1);
  }
  const std::string next = KRTUuid().ToString();
  char childId[36];
  ASSERT_EQ(read(fds[0], childId, sizeof childId), static_cast<ssize_t>(sizeof childId));
  waitpid(child, nullptr, 0);
  close(fds[0]), close(fds[1]);
  const std::set<std::string> ids{first, other, next, std::string(childId, sizeof childId)};
  EXPECT_EQ(ids.size(), 4u);
}

TEST(Base64, Rfc4648VectorsTheWholeAlphabetAndBadArguments) {
  std::string longText;  // no line breaks, however long
  for (int i = 0; i < 100; ++i) longText += "YWFh";
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
      {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"}, {std::string("\xFB\xFF\xBF", 3), "+/+/"}, {std::string("\0\xFF", 2), "AP8="},
      {std::string(300, 'a'), longText},
  };
  for (const auto& [bytes, expected] : cases) {
    char* text = nullptr;
    ASSERT_EQ(KRTCodePage::ConvertToBase64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &text),
              KRT_OK);
    EXPECT_EQ(text, expected) << bytes;
    KRTCodePage::FreeText(text);
  }

  char* text = reinterpret_cast<char*>(1);
  EXPECT_EQ(KRTCodePage::ConvertToBase64(nullptr, 3, &text), KRT_E_INVALID_ARGUMENT);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(KRTCodePage::ConvertToBase64(reinterpret_cast<const unsigned char*>("abc"), 3, nullptr),
            KRT_E_INVALID_ARGUMENT);
  // No bytes at all is an empty input; the text is released with std::free.
  ASSERT_EQ(KRTCodePage::ConvertToBase64(nullptr, 0, &text), KRT_OK);
  EXPECT_STREQ(text, "");
  std::free(text);
}

// Members are found by key and kind; a rewrite keeps the member's place, and
// equality looks at kinds, values and order.
TEST(Parameters, MembersAreFoundByKindRewrittenInPlaceAndCompared) {
  MBX::Parameters p, q;
  ASSERT_EQ(p.WriteString("a", "1"), KRT_OK);
  ASSERT_EQ(p.WriteBuffer("b", OVK::Binary("\x01\x02", 2)), KRT_OK);
  EXPECT_EQ(p.FindBuffer("a"), nullptr);
  EXPECT_EQ(p.FindString("b"), nullptr);
  EXPECT_EQ(p.FindString("A"), nullptr);
  EXPECT_EQ(p.WriteString("", "v"), KRT_E_INVALID_ARGUMENT);
  q.WriteString("a", "x");
  q.WriteBuffer("b", OVK::Binary("\x01\x02", 2));
  EXPECT_FALSE(p == q);
  p.WriteBuffer("a", OVK::Binary("x", 1));
  ASSERT_EQ(p.Count(), 2u);
  EXPECT_EQ(p.Members()[0].key, "a");
  EXPECT_EQ(p.FindBuffer("a")->AsStringView(), "x");
  EXPECT_FALSE(p == q);  // same text, another kind
  q.WriteBuffer("a", OVK::Binary("x", 1));
  EXPECT_TRUE(p == q);
  q.WriteString("c", "");
  EXPECT_FALSE(p == q);

  // The recording node keeps what is emitted through the interface.
  MBX::RecordingNode recorder;
  MBX::Node& node = recorder;
  EXPECT_EQ(node.Emit("VornRemoteEvent", p), 0);
  EXPECT_FALSE(recorder.Last().hasTarget);
  EXPECT_TRUE(recorder.Last().parameters == p);
}

TEST(FindPath, GivesTheFirstDirectorysMatchAbsoluteAndNormalised) {
  TempDir tmp;
  tmp.Write("b/f.txt");
  const std::string a = tmp.Str() + "/a", b = tmp.Str() + "/b";
  ScopedCwd cwd(tmp.Path());
  struct Case { const char* relative; std::string dirs, found; };
  const Case cases[] = {
      {"f.txt", a + ";" + b, b + "/f.txt"},
      {"\\f.txt", ";b\\", b + "/f.txt"},  // a relative directory; a leading separator stays inside
      {"", b + "/./", b},                   // the directory itself, without its trailing slash
      {"", "/", "/"},                       // the root keeps its own
      {"f.txt", ";;", ""},                  // empty pieces name no directory
      {"missing", b, ""}};
  for (const Case& c : cases) EXPECT_EQ(KRTFindPath(c.relative, c.dirs.c_str()), c.found) << c.relative << " in " << c.dirs;
  EXPECT_EQ(KRTFindPath(nullptr, "/"), "");
}

class Files : public ::testing::Test {
protected:
  // Each entry as "name absolute-path".
  std::vector<std::string> ReadAll() {
    std::vector<std::string> out;
    KRTDirEntry entry;
    int end = 0;
    while (KRTReadDirectory(&dir, &entry, &end, KRT_DIR_READ_ALL) == KRT_OK && !end)
      out.push_back(std::string(entry.name.View()) + " " + std::string(entry.absolutePath.View()));
    return out;
  }

  TempDir tmp;
  KRTFile* file = nullptr;
  KRTDirectory dir;
};
using Directory = Files;

TEST_F(Files, BackslashPathsAndModes) {
  tmp.Write("sub/a.txt", "one");
  const std::string path = tmp.Str() + "\\sub\\a.txt";
  ASSERT_EQ(KRTFOpen(path.c_str(), "a", &file), KRT_OK);
  ASSERT_EQ(KRTFWrite(file, "+two", 4, nullptr), KRT_OK);
  ASSERT_EQ(KRTFClose(file), KRT_OK);
  std::ifstream in(tmp.Path() / "sub/a.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "one+two");

  EXPECT_EQ(KRTFOpen(path.c_str(), "wxb", &file), KRT_E_IO);  // exists
  EXPECT_EQ(file, nullptr);
  for (const char* bad : {"", "q", "rr", "rx", "r+z", "br"})
    EXPECT_EQ(KRTFOpen(path.c_str(), bad, &file), KRT_E_INVALID_ARGUMENT) << '"' << bad << '"';
  EXPECT_EQ(KRTFOpen(path.c_str(), nullptr, &file), KRT_E_INVALID_ARGUMENT);
}

TEST_F(Directory, ListsEachEntryOnceSortedWithAbsolutePaths) {
  for (const char* name : {"res/b.json", "res/a.txt", "res/c.json/nested.json", "res/\xC3\xA9.json"}) tmp.Write(name);
  ScopedCwd cwd(tmp.Path());
  ASSERT_EQ(KRTOpenDirectory(".\\res\\", &dir), KRT_OK);
  const std::string base = tmp.Str() + "/res";
  EXPECT_EQ(dir.Path(), base);
  // A directory is an entry, not descended into.
  EXPECT_EQ(ReadAll(), (std::vector<std::string>{"a.txt " + base + "/a.txt", "b.json " + base + "/b.json",
                                                  "c.json " + base + "/c.json",
                                                  "\xC3\xA9.json " + base + "/\xC3\xA9.json"}));
}

TEST(Application, MainApplicationIsTheInnermostInstalledOne) {
  EXPECT_EQ(KRTApplication::MainApplication(), nullptr);
  KRTApplication plain;
  KRTTestInteractiveApplication interactive;
  {
    KRTScopedMainApplication outer(&plain);
    {
      KRTScopedMainApplication inner(&interactive);
      EXPECT_EQ(KRTApplication::MainApplication(), &interactive);
    }
    EXPECT_EQ(KRTApplication::MainApplication(), &plain);
  }
  EXPECT_EQ(KRTApplication::MainApplication(), nullptr);

  // The kind test follows the class chain, seen through the base class.
  const std::tuple<const KRTApplication*, const char*, bool> kinds[] = {{&plain, "KRTApplication", true},
      {&plain, "KRTInteractiveApplication", false}, {&interactive, "KRTInteractiveApplication", true},
      {&interactive, "KRTApplication", true}, {&interactive, "KRTInteractive", false}, {&interactive, nullptr, false}};
  for (const auto& [app, kind, is] : kinds) EXPECT_EQ(app->IsKindOf(kind) != 0, is) << (kind ? kind : "null");

  unsigned long id = 0;  // a plain application has no timer
  EXPECT_EQ(plain.AddTimeOut(10, nullptr, nullptr, [](void*, int, void*) {}, &id), KRT_E_UNSUPPORTED);
  EXPECT_EQ(plain.RemoveTimeOut(10, 1, 0), KRT_E_UNSUPPORTED);
}

template <class F>
KRTErrorPtr CatchHostError(F thrower) {
  try {
    thrower();
  } catch (const KRTErrorPtr& e) {
    return e;
  }
  return nullptr;
}

TEST(HostError, ThrowSmartPtrMakesTheErrorItThrowsNeverNull) {
  const KRTErrorPtr made = CatchHostError([] { KRTError::ThrowSmartPtr("made here", 7); });
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetMessage(), "made here");
  EXPECT_EQ(made->GetCode(), 7);
  const KRTErrorPtr fromNull = CatchHostError([] { KRTError::ThrowSmartPtr(KRTErrorPtr()); });
  ASSERT_NE(fromNull, nullptr);
  EXPECT_FALSE(fromNull->GetMessage().empty());
}

// A host error raised while a listener's error is being handled is passed
// on with Rethrow; outside a handler Rethrow still throws a host error.
TEST(HostErrorScope, RethrowPassesOnTheErrorBeingHandled) {
  const auto handling = std::make_shared<KRTError>("raised while handling");
  const KRTErrorPtr escaped = CatchHostError([&] {
    TolvTkCompatCtx scope;
    try {
      KRTError::ThrowSmartPtr("from a listener");
    } catch (const KRTErrorPtr& e) {
      try {
        KRTXHContextCxx::CatchBlockProlog(e);
        KRTError::ThrowSmartPtr(handling);
      } catch (const KRTErrorPtr&) {
        TolvTkCompatCtx::Rethrow();
      }
    }
  });
  EXPECT_EQ(escaped, handling);
  EXPECT_EQ(TolvTkCompatCtx::Depth(), 0u);
  KRTXHContextCxx::Flush();

  const KRTErrorPtr outside = CatchHostError([] { TolvTkCompatCtx::Rethrow(); });
  ASSERT_NE(outside, nullptr);
  EXPECT_NE(outside->GetMessage().find("no exception"), std::string::npos);
}

}  // namespace
