#pragma once

#include <map>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

#include "vorn/core/Export.h"
#include "vorn/core/SingletonSlot.h"
#include "vorn/core/TypeInfo.h"
#include "vorn/json/JSONStreams.h"
#include "vorn/model/ModelProperty.h"
#include "vorn/values/Value.h"

// Process-wide registry of property definitions, read from dictionary
// resource files, and the only factory of VornModelProperty. The default
// dictionary "resources\Vorn\VornDefaultModelPropertiesDico.json" is
// registered when the registry is created, so its definitions ("id",
// "name", "isActive", ...) can never be overridden.
//
// A dictionary is one JSON object whose members are properties; each value
// is an object of the keys "type", "typeArray", "description" (strings),
// "isID", "readOnly", "isExchangeable", "mustBeDumped" (booleans) and
// "possibleValues" (an array of strings). An unknown string key is reported
// and drops that property; an unknown boolean or string-array key is
// reported and ignored; members of other kinds are ignored. The rest of the
// file registers either way. Within a file and across files the first
// definition of a name wins. A missing or unparsable file registers nothing
// and is not reported.
class VORN_API VornModelPropertiesDicoManager {
public:
  virtual ~VornModelPropertiesDicoManager();
  VornModelPropertiesDicoManager(const VornModelPropertiesDicoManager&) = delete;
  VornModelPropertiesDicoManager& operator=(const VornModelPropertiesDicoManager&) = delete;

  // Reads `folder` + `name` + ".json" (folder like "resources\Vorn\"),
  // found in the first installation directory that holds it.
  static void RegisterDico(const std::string& name, const std::string& folder);

  // A new property for a value of native type T (no value set yet), or
  // empty with a report when `name` is undeclared or T does not fit it.
  template <class T>
  static std::shared_ptr<VornModelProperty> CreatePropertyFromNative(const std::string& name) {
    return _CreatePropertyForType(name, Vorn::GetTypeInfo<T>());
  }

  // The registered definition, copied into `definition`; false (and
  // `definition` untouched) when `name` is not registered.
  static bool _GetPropertyDefinition(const std::string& name, VornModelPropertyDefinition& definition);
  // A new property (without value) that `value` fits, or empty with a
  // report when `name` is undeclared or the value does not fit.
  static std::shared_ptr<VornModelProperty> _CreatePropertyFromValue(const std::string& name, const VornValue& value);
  // The property, or empty with the incompatibility report when `compatible`
  // is false (`valueType` names the offending type).
  static std::shared_ptr<VornModelProperty> _CreateProperty(const std::string& name,
                                                            const VornModelPropertyDefinition& definition,
                                                            bool compatible, const Vorn::TypeInfo& valueType);
  static void _LogPropertyAbsenceException(const std::string& name);

private:
  friend class VornMainComponent;
  friend class VornModelPropsDicoVisitor;
  friend class VornModelObject;
  friend struct VornModelPropertiesDicoManagerTestAccess;
  friend class Vorn::SingletonSlot<VornModelPropertiesDicoManager>;

  VornModelPropertiesDicoManager() = default;
  static VornModelPropertiesDicoManager* _GetInstance();
  static void _DeleteInstance();
  static std::shared_ptr<VornModelProperty> _CreatePropertyForType(const std::string& name,
                                                                   const Vorn::TypeInfo& type);
  struct _Entry {
    std::shared_ptr<const VornModelPropertyDefinition> definition;
    // The kind the last property of this name was built with; reused while
    // the value types registry gives the same value type.
    Vorn::_Internal_::ModelPropertyKindRef kind;
  };
  // The kind of a new property of a registered name (valueType looked up
  // again, as every property did, so a registry made again is followed).
  static Vorn::_Internal_::ModelPropertyKindRef _KindOf(const std::string& name, _Entry& entry);
  static std::shared_ptr<VornModelProperty> _Create(const std::string& name, Vorn::_Internal_::ModelPropertyKindRef kind,
                                                    bool compatible, std::string_view valueTypeName);
  _Entry* _Find(const std::string& name);
  void _RegisterDico(const std::string& name, const std::string& folder);

  static Vorn::SingletonSlot<VornModelPropertiesDicoManager> _Instance;
  // Definitions are immutable once registered: properties share them.
  std::map<std::string, _Entry> m_definitions;
  // Guards the entries' kinds: properties may be built on several threads.
  std::mutex m_kindsLock;
};

// Reads the top level of a dictionary: one property per object member.
class VORN_API VornModelPropsDicoVisitor : public JSON::JVisitor {
public:
  VornModelPropsDicoVisitor() : JSON::JVisitor(false) {}
  using JSON::JVisitor::Visit;
  bool Visit(const KRTUnicodeString& key, const JSON::JIStream& value) override;

  const std::map<std::string, VornModelPropertyDefinition>& GetDefinitions() const noexcept { return m_definitions; }

private:
  std::map<std::string, VornModelPropertyDefinition> m_definitions;
};

// Reads one property's definition object.
class VORN_API VornPropDefinitionVisitor : public JSON::JVisitor {
public:
  VornPropDefinitionVisitor() : JSON::JVisitor(false) {}
  using JSON::JVisitor::Visit;
  bool Visit(const KRTUnicodeString& key, const std::vector<KRTUnicodeString>& values) override;
  bool Visit(const KRTUnicodeString& key, bool value) override;
  bool Visit(const KRTUnicodeString& key, const KRTUnicodeString& value) override;

  const VornModelPropertyDefinition& GetDefinition() const noexcept { return m_definition; }

private:
  VornModelPropertyDefinition m_definition;
};
