#include "Manifest.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "vorn/json/Parser.h"

namespace orvel {
namespace {

std::string ReadFile(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ManifestError(file + ": cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Reads members of the manifest with their positions at hand.
class Reader {
public:
  explicit Reader(const Manifest& manifest) : m(manifest) {}

  void Keys(const VornJSONObject& object, const JsonPath& at, std::set<std::string> allowed) const {
    for (const auto& [key, value] : object)
      if (!allowed.count(key)) throw m.ErrorAt(Join(at, key), "unknown member \"" + key + "\"");
  }
  const VornJSONObject& Object(const VornJSONValue& value, const JsonPath& at) const {
    if (!value.IsObject()) throw m.ErrorAt(at, FormatPath(at) + " must be an object");
    return *value.GetIfObject();
  }
  const VornJSONArray& Array(const VornJSONValue& value, const JsonPath& at) const {
    if (!value.IsArray()) throw m.ErrorAt(at, FormatPath(at) + " must be an array");
    return *value.GetIfArray();
  }
  std::string String(const VornJSONValue& value, const JsonPath& at, bool required) const {
    if (value.IsUndefined() && !required) return {};
    if (value.IsUndefined()) throw m.ErrorAt(Parent(at), FormatPath(at) + " is missing");
    if (!value.IsString() || value.GetIfString()->empty())
      throw m.ErrorAt(at, FormatPath(at) + " must be a non-empty string");
    return *value.GetIfString();
  }
  std::vector<std::string> Strings(const VornJSONValue& value, const JsonPath& at) const {
    std::vector<std::string> out;
    if (value.IsUndefined()) return out;
    const VornJSONArray& array = Array(value, at);
    for (std::size_t i = 0; i < array.size(); ++i) out.push_back(String(array[i], Join(at, i), true));
    return out;
  }
  static JsonPath Join(JsonPath path, PathStep step) {
    path.push_back(std::move(step));
    return path;
  }
  static JsonPath Parent(JsonPath path) {
    if (!path.empty()) path.pop_back();
    return path;
  }

private:
  const Manifest& m;
};

std::vector<std::string> Absolute(const std::vector<std::string>& dirs, const std::string& file) {
  const std::filesystem::path base = std::filesystem::absolute(file).parent_path();
  std::vector<std::string> out;
  for (const std::string& dir : dirs) out.push_back((base / dir).lexically_normal().string());
  return out;
}

}  // namespace

ManifestError Manifest::ErrorAt(const JsonPath& path, const std::string& what) const {
  const TextPosition at = Locate(text, path);
  return ManifestError(file + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) + ": " + what);
}

Manifest Manifest::LoadPaths(const std::string& file) {
  Manifest manifest;
  try {
    manifest = Load(file);
  } catch (const std::exception&) {
    // Reported by the full load, once the environment is set.
  }
  return manifest;
}

Manifest Manifest::Load(const std::string& file) {
  Manifest manifest;
  manifest.file = file;
  manifest.text = ReadFile(file);
  const SyntaxError syntax = CheckSyntax(manifest.text);
  if (!syntax.message.empty())
    throw ManifestError(file + ":" + std::to_string(syntax.position.line) + ":" +
                        std::to_string(syntax.position.column) + ": " + syntax.message);
  const VornJSONValue document = VornJSONParser::ParseText(manifest.text, false);
  const Reader read(manifest);
  const VornJSONObject& top = read.Object(document, {});
  read.Keys(top, {}, {"resourcePaths", "pluginPaths", "plugins", "dictionaries", "dataTypes", "tweakerFiles",
                      "contexts"});

  manifest.resourcePaths = Absolute(read.Strings(top.Get("resourcePaths"), {"resourcePaths"}), file);
  manifest.pluginPaths = Absolute(read.Strings(top.Get("pluginPaths"), {"pluginPaths"}), file);
  manifest.plugins = read.Strings(top.Get("plugins"), {"plugins"});
  manifest.dataTypes = read.Strings(top.Get("dataTypes"), {"dataTypes"});

  if (const VornJSONValue& dicos = top.Get("dictionaries"); !dicos.IsUndefined()) {
    const VornJSONArray& list = read.Array(dicos, {"dictionaries"});
    for (std::size_t i = 0; i < list.size(); ++i) {
      const JsonPath at{"dictionaries", i};
      Dictionary dictionary;
      if (list[i].IsString()) {
        dictionary.name = read.String(list[i], at, true);
      } else {
        const VornJSONObject& entry = read.Object(list[i], at);
        read.Keys(entry, at, {"name", "folder"});
        dictionary.name = read.String(entry.Get("name"), Reader::Join(at, "name"), true);
        if (const std::string folder = read.String(entry.Get("folder"), Reader::Join(at, "folder"), false);
            !folder.empty())
          dictionary.folder = folder;
      }
      manifest.dictionaries.push_back(dictionary);
    }
  }
  if (const VornJSONValue& files = top.Get("tweakerFiles"); !files.IsUndefined()) {
    const VornJSONArray& list = read.Array(files, {"tweakerFiles"});
    for (std::size_t i = 0; i < list.size(); ++i) {
      const JsonPath at{"tweakerFiles", i};
      const VornJSONObject& entry = read.Object(list[i], at);
      read.Keys(entry, at, {"representations", "templates"});
      manifest.tweakerFiles.push_back({read.String(entry.Get("representations"), Reader::Join(at, "representations"), false),
                                       read.String(entry.Get("templates"), Reader::Join(at, "templates"), false)});
    }
  }
  if (const VornJSONValue& contexts = top.Get("contexts"); !contexts.IsUndefined()) {
    const VornJSONArray& list = read.Array(contexts, {"contexts"});
    std::set<std::string> names;
    for (std::size_t i = 0; i < list.size(); ++i) {
      const JsonPath at{"contexts", i};
      const VornJSONObject& entry = read.Object(list[i], at);
      read.Keys(entry, at, {"library", "class", "name", "namespace", "views", "initialData"});
      Context context;
      context.path = at;
      context.library = read.String(entry.Get("library"), Reader::Join(at, "library"), true);
      context.className = read.String(entry.Get("class"), Reader::Join(at, "class"), true);
      context.name = read.String(entry.Get("name"), Reader::Join(at, "name"), true);
      context.nameSpace = read.String(entry.Get("namespace"), Reader::Join(at, "namespace"), false);
      if (!names.insert(context.name).second)
        throw manifest.ErrorAt(Reader::Join(at, "name"), "context name \"" + context.name + "\" is used twice");
      if (const VornJSONValue& data = entry.Get("initialData"); !data.IsUndefined())
        context.initialData = read.Object(data, Reader::Join(at, "initialData"));
      if (const VornJSONValue& views = entry.Get("views"); !views.IsUndefined()) {
        const JsonPath viewsAt = Reader::Join(at, "views");
        const VornJSONArray& viewList = read.Array(views, viewsAt);
        for (std::size_t v = 0; v < viewList.size(); ++v) {
          const JsonPath viewAt = Reader::Join(viewsAt, v);
          const VornJSONObject& viewEntry = read.Object(viewList[v], viewAt);
          read.Keys(viewEntry, viewAt, {"library", "class", "options"});
          View view;
          view.library = read.String(viewEntry.Get("library"), Reader::Join(viewAt, "library"), true);
          view.className = read.String(viewEntry.Get("class"), Reader::Join(viewAt, "class"), true);
          if (const VornJSONValue& options = viewEntry.Get("options"); !options.IsUndefined())
            view.options = read.Object(options, Reader::Join(viewAt, "options"));
          context.views.push_back(std::move(view));
        }
      }
      manifest.contexts.push_back(std::move(context));
    }
  }
  return manifest;
}

}  // namespace orvel
