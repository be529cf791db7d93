#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "vorn/core/Export.h"
#include "vorn/core/SharedBase.h"
#include "vorn/core/SingletonSlot.h"
#include "vorn/json/JSONStreams.h"

// One data type: the vocabulary views use to pick a tweaker for a value.
struct VORN_API VornDataTypeDefinition {
  virtual ~VornDataTypeDefinition();

  std::string name;
  // Empty when the type has none, or its super type is not (yet) known.
  std::shared_ptr<VornDataTypeDefinition> superType;
  // Data types this one can be written as, in file order.
  std::vector<std::string> writableAs;

  // True when `other` is this type or one of its super types.
  bool IsA(const std::string& other) const;
};

// Process-wide registry of data types, filled from data-types resource
// files that the host (or a plug-in) registers by base name.
//
// A data-types file is one JSON object: each member declares a type, its
// value an object with the optional keys "superType" (a name) and
// "writableAs" (an array of names). Any other string or string-array key
// drops that type only; the rest of the file still registers. A super type
// may be declared before or after its subtypes, or in an earlier file. The
// first definition of a name wins for the life of the registry, and a
// subtype always links to the registered definition of its super type. A
// type is never given a super type that would make a cycle (itself, or a
// type that already derives from it): it is left without one.
class VORN_API VornDataTypesManager : public VornBaseClass {
public:
  ~VornDataTypesManager() override;

  // Loads "resources\Vorn\<name>.json" and registers its types. A missing
  // or unreadable file registers nothing (the resource loader reports it).
  static void RegisterDataTypes(const std::string& name);
  // The registered definition, or empty.
  static std::shared_ptr<VornDataTypeDefinition> GetDataTypeDefinition(const std::string& name);

private:
  friend class VornMainComponent;
  friend class VornDataTypesVisitor;
  friend struct VornDataTypesManagerTestAccess;
  friend class Vorn::SingletonSlot<VornDataTypesManager>;

  VornDataTypesManager() = default;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return nullptr; }

  static VornDataTypesManager* _GetInstance();
  static void _DeleteInstance();
  // Adds the definition under its name unless the name is registered;
  // returns the registered definition either way (empty for an empty one).
  static std::shared_ptr<VornDataTypeDefinition> _AddDataTypeDefinition(
      const std::shared_ptr<VornDataTypeDefinition>& definition);
  void _RegisterDataTypes(const std::string& name);

  static Vorn::SingletonSlot<VornDataTypesManager> _Instance;
  std::unordered_map<std::string, std::shared_ptr<VornDataTypeDefinition>> m_definitions;
};

// Reads the top level of a data-types file: one type per object member.
class VORN_API VornDataTypesVisitor : public JSON::JVisitor {
public:
  VornDataTypesVisitor() : JSON::JVisitor(false) {}
  using JSON::JVisitor::Visit;
  bool Visit(const KRTUnicodeString& key, const JSON::JIStream& value) override;

private:
  // Super-type name not yet defined -> the definitions waiting for it.
  std::unordered_map<std::string, std::vector<std::shared_ptr<VornDataTypeDefinition>>> m_waiting;
};

// Reads one type's object into a definition.
class VORN_API VornDataTypeVisitor : public JSON::JVisitor {
public:
  explicit VornDataTypeVisitor(std::shared_ptr<VornDataTypeDefinition> definition)
      : JSON::JVisitor(false), m_definition(std::move(definition)) {}
  using JSON::JVisitor::Visit;
  bool Visit(const KRTUnicodeString& key, const std::vector<KRTUnicodeString>& values) override;
  bool Visit(const KRTUnicodeString& key, const KRTUnicodeString& value) override;

  const std::string& GetSuperTypeName() const noexcept { return m_superTypeName; }

private:
  std::shared_ptr<VornDataTypeDefinition> m_definition;
  std::string m_superTypeName;
};
