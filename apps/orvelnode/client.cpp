// orvelclient: starts orvelnode with a manifest, sends it a scripted
// session (one JSON-RPC message per line, from a file or standard input)
// and prints requests, responses and notifications readably. Each request
// waits for its answer; notifications are printed as they come.
//
//   orvelclient MANIFEST [SESSION]
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "ChildProcess.h"
#include "vorn/json/Array.h"
#include "vorn/json/Object.h"
#include "vorn/json/Parser.h"

namespace {

// Indented JSON; containers short enough stay on one line.
void Pretty(const VornJSONValue& value, int indent, std::string& out) {
  const std::string compact = value.Stringify();
  if ((!value.IsObject() && !value.IsArray()) || compact.size() + static_cast<std::size_t>(indent) <= 72) {
    out += compact;
    return;
  }
  const std::string pad(static_cast<std::size_t>(indent) + 2, ' ');
  const bool object = value.IsObject();
  out += object ? "{\n" : "[\n";
  bool first = true;
  for (auto it = value.begin(); it != value.end(); ++it) {
    if (!first) out += ",\n";
    first = false;
    out += pad;
    if (object) out += VornJSONValue(std::string(it.Key())).Stringify() + ": ";
    Pretty(*it, indent + 2, out);
  }
  out += "\n" + std::string(static_cast<std::size_t>(indent), ' ') + (object ? "}" : "]");
}

void Print(const char* mark, const std::string& line) {
  const VornJSONValue parsed = VornJSONParser::ParseText(line, false);
  std::string text;
  Pretty(parsed, 2, text);
  // A string result that holds lines (a rendered view) is shown as text.
  const VornJSONValue& rendered = parsed.GetFromPath({"result"});
  std::printf("%s %s\n", mark, text.c_str());
  if (rendered.IsString() && rendered.GetIfString()->find('\n') != std::string::npos)
    std::printf("%s", rendered.GetIfString()->c_str());
  std::fflush(stdout);
}

bool IsNotification(const std::string& line) {
  const VornJSONValue message = VornJSONParser::ParseText(line, false);
  const VornJSONObject* object = message.GetIfObject();
  return object && object->HasKey("method") && !object->HasKey("id", true);
}

std::string SelfDirectory() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string self(path, n > 0 ? static_cast<std::size_t>(n) : 0);
  return self.substr(0, self.rfind('/'));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || std::string(argv[1]) == "--help") {
    std::fprintf(stderr, "Usage: orvelclient MANIFEST [SESSION]\n");
    return argc == 2 ? 0 : 2;
  }
  std::ifstream file;
  if (argc == 3) {
    file.open(argv[2]);
    if (!file) {
      std::fprintf(stderr, "orvelclient: cannot read %s\n", argv[2]);
      return 2;
    }
  }
  std::istream& session = argc == 3 ? static_cast<std::istream&>(file) : std::cin;
  orvel::ChildProcess node({SelfDirectory() + "/orvelnode", argv[1]});
  if (!node.Started()) return 1;

  std::string line;
  while (std::getline(session, line)) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    Print("->", line);
    if (!node.WriteLine(line)) break;
    const VornJSONValue request = VornJSONParser::ParseText(line, false);
    const VornJSONObject* object = request.GetIfObject();
    const bool answered = request.IsArray() || (object && object->HasKey("id", true)) || !object;
    while (answered) {
      const auto reply = node.ReadLine();
      if (!reply) break;
      const bool notification = IsNotification(*reply);
      Print(notification ? " *" : "<-", *reply);
      if (!notification) break;
    }
  }
  node.CloseInput();
  while (const auto rest = node.ReadLine()) Print(IsNotification(*rest) ? " *" : "<-", *rest);
  const int status = node.Wait();
  std::printf("orvelnode exited with status %d\n", status);
  return status == 0 ? 0 : 1;
}
