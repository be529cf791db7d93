#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "vorn/core/Export.h"
#include "vorn/core/SingletonSlot.h"
#include "vorn/json/JSONStreams.h"
#include "vorn/runtime/LibBasedFactory.h"
#include "vorn/views/BaseTweaker.h"

// A tweaker template: the plug-in class that implements it.
struct VORN_API VornTypeTemplateDef {
  std::string name;
  std::string library;
  std::string className;
};

// The templates that render one data type, by representation name.
struct VORN_API VornTypeRepDef {
  std::string name;
  std::unordered_map<std::string, std::shared_ptr<VornTypeTemplateDef>> representations;
};

namespace Vorn {
inline constexpr const char* kDefaultTemplatesFile = "VornDefaultDataTypesTemplates";
inline constexpr const char* kDefaultRepresentationsFile = "VornDefaultDataTypesRepresentations";
// Suffixes of the functions by which a view library names its own files.
inline constexpr const char* kViewTemplatesSuffix = "VornViewDataTypesTemplates";
inline constexpr const char* kViewRepresentationsSuffix = "VornViewDataTypesRepresentations";
}  // namespace Vorn

// Which tweaker renders a data type as a representation, read from
// resource files, and the creation of that tweaker from its library.
//
// A templates file is an object of templates: name -> {"library": ...,
// "class": ...}. A representations file is an object of data types: name ->
// {representation: template name}; its templates must be registered
// already (earlier, or by the templates file of the same call). Bad entries
// are reported and dropped one by one; the rest of the file registers. The
// first definition of a template wins; a later representations file
// replaces single representations of a known data type. A file is read
// once, even when its loading failed. The default files are registered
// when the factory is created.
class VORN_API VornTweakerFactory : public VornLibBasedFactory_V1<VornBaseTweaker> {
public:
  ~VornTweakerFactory() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return nullptr; }

  // Templates first, then representations; an empty name is skipped.
  static void RegisterTypes(const std::string& representations, const std::string& templates);
  static bool HasFileBeenLoaded(const std::string& name, const bool& isRepresentations);
  // The template rendering `dataType` as `representation`; no fallback to
  // super types. False (and `out` untouched) on a miss.
  static bool GetTypeTemplate(const std::string& dataType, const std::string& representation,
                              std::shared_ptr<VornTypeTemplateDef>& out);
  static bool GetTemplateDefinition(const std::string& name, std::shared_ptr<VornTypeTemplateDef>& out);
  // A new tweaker of the template's class, or empty (no template, no
  // library, a class that is not a tweaker: that instance is released).
  static std::shared_ptr<VornBaseTweaker> GenerateTweaker(const std::string& dataType,
                                                         const std::string& representation);

  bool GetTemplateDef(const std::string& name, std::shared_ptr<VornTypeTemplateDef>& out) const;

private:
  friend class VornMainComponent;
  friend class VornTypeRepVisitor;
  friend class Vorn::SingletonSlot<VornTweakerFactory>;

  VornTweakerFactory();
  static VornTweakerFactory* _GetInstance();
  static void _DeleteInstance();
  void _RegisterTypes(const std::string& representations, const std::string& templates);
  bool _HasFileBeenLoaded(const std::string& name, bool isRepresentations) const;

  static Vorn::SingletonSlot<VornTweakerFactory> _Instance;
  std::unordered_map<std::string, std::shared_ptr<VornTypeRepDef>> m_representations;
  std::unordered_map<std::string, std::shared_ptr<VornTypeTemplateDef>> m_templates;
  std::vector<std::string> m_representationsFiles;
  std::vector<std::string> m_templatesFiles;
};

class VORN_API VornAllTypeTemplatesVisitor : public JSON::JVisitor {
public:
  VornAllTypeTemplatesVisitor() : JSON::JVisitor(false) {}
  using JSON::JVisitor::Visit;
  bool Visit(const KRTUnicodeString& key, const JSON::JIStream& value) override;
  std::unordered_map<std::string, std::shared_ptr<VornTypeTemplateDef>> templates;
};

class VORN_API VornTypeTemplateVisitor : public JSON::JVisitor {
public:
  explicit VornTypeTemplateVisitor(VornTypeTemplateDef& definition) : JSON::JVisitor(false), m_definition(definition) {}
  using JSON::JVisitor::Visit;
  bool Visit(const KRTUnicodeString& key, const JSON::JIStream& value) override;
  bool Visit(const KRTUnicodeString& key, const KRTUnicodeString& value) override;

private:
  VornTypeTemplateDef& m_definition;
};

class VORN_API VornAllTypeRepsVisitor : public JSON::JVisitor {
public:
  explicit VornAllTypeRepsVisitor(const VornTweakerFactory& factory) : JSON::JVisitor(false), m_factory(factory) {}
  using JSON::JVisitor::Visit;
  bool Visit(const KRTUnicodeString& key, const JSON::JIStream& value) override;
  std::unordered_map<std::string, std::shared_ptr<VornTypeRepDef>> representations;
  std::vector<std::string> order;  // data types in file order

private:
  const VornTweakerFactory& m_factory;
};

class VORN_API VornTypeRepVisitor : public JSON::JVisitor {
public:
  VornTypeRepVisitor(const VornTweakerFactory& factory, VornTypeRepDef& definition)
      : JSON::JVisitor(false), m_factory(factory), m_definition(definition) {}
  using JSON::JVisitor::Visit;
  bool Visit(const KRTUnicodeString& key, const JSON::JIStream& value) override;
  bool Visit(const KRTUnicodeString& key, const KRTUnicodeString& value) override;

private:
  const VornTweakerFactory& m_factory;
  VornTypeRepDef& m_definition;
};
