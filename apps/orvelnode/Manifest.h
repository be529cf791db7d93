#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "JsonLocator.h"
#include "vorn/json/Object.h"

namespace orvel {

// A manifest that cannot be used: "file:line:column: what is wrong".
class ManifestError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// What orvelnode starts from (format in the README).
struct Manifest {
  struct Dictionary {
    std::string name;
    std::string folder = "resources\\Vorn\\";
  };
  struct TweakerFiles {
    std::string representations;
    std::string templates;
  };
  struct View {
    std::string library;
    std::string className;
    VornJSONObject options;
  };
  struct Context {
    std::string library;
    std::string className;
    std::string name;
    std::string nameSpace;
    std::vector<View> views;
    VornJSONObject initialData;
    JsonPath path;  // where it is written, for messages
  };

  std::string file;  // as given
  std::string text;
  std::vector<std::string> resourcePaths;  // absolute
  std::vector<std::string> pluginPaths;    // absolute
  std::vector<std::string> plugins;
  std::vector<Dictionary> dictionaries;
  std::vector<std::string> dataTypes;
  std::vector<TweakerFiles> tweakerFiles;
  std::vector<Context> contexts;

  // Reads and checks the whole manifest; throws ManifestError.
  static Manifest Load(const std::string& file);
  // Only the two path lists, for setting up the process environment;
  // empty lists for a file that cannot be read.
  static Manifest LoadPaths(const std::string& file);

  // A ManifestError pointing at `path` in this manifest.
  ManifestError ErrorAt(const JsonPath& path, const std::string& what) const;
};

}  // namespace orvel
