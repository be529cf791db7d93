#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "vorn/core/Export.h"
#include "vorn/core/SharedBase.h"
#include "vorn/core/SingletonSlot.h"
#include "vorn/core/TypeInfo.h"
#include "vorn/values/Value.h"

namespace Vorn::TypeWord {
// Type words that data types and property definitions use beyond the ones
// the registry below registers; the registry itself does not know them.
inline constexpr char kAngle[] = "angle";
inline constexpr char kCircle[] = "circle";
inline constexpr char kCurve[] = "curve";
inline constexpr char kLength[] = "length";
inline constexpr char k2DLengthVector[] = "2DLengthVector";
inline constexpr char k3DLengthVector[] = "3DLengthVector";
inline constexpr char kLiteral[] = "literal";
inline constexpr char kMatrix[] = "matrix";
inline constexpr char kPoint[] = "point";
inline constexpr char kRatio[] = "ratio";
inline constexpr char k2DRatioVector[] = "2DRatioVector";
inline constexpr char k3DTransformationMatrix[] = "3DTransformationMatrix";
inline constexpr char kGeometry[] = "geometry";
// Appended to a type word to key its array definition.
inline constexpr char kArraySuffix[] = "//Array";
}  // namespace Vorn::TypeWord

// A registered value type: its name, whether it is the array form, and the
// native type behind it, with a sample (default) value of that type.
struct VORN_API VornRawValueTypeDefinition {
  VornRawValueTypeDefinition(std::string name, bool isArray, Vorn::TypeInfo info, VornValue sample)
      : typeName(std::move(name)), isArray(isArray), typeInfo(info), sample(std::move(sample)) {}
  virtual ~VornRawValueTypeDefinition();

  // True when `value` holds this type; the "unknown" type accepts every
  // value, even an empty one. With `reportError` a mismatch is reported.
  bool CheckType(const VornValue& value, bool reportError) const;

  std::string typeName;
  bool isArray;
  Vorn::TypeInfo typeInfo;
  VornValue sample;
  // Marks definitions made by the registry itself.
  bool isBuiltIn = true;
};

// Process-wide registry mapping a type word ("integer", "stringArray", ...)
// and an array flag to its definition. Filled once, on first use; lookups
// take no lock, so the first use must come from one thread (the main thread).
class VORN_API VornValueTypesManager : public VornBaseClass {
public:
  ~VornValueTypesManager() override;

  // The definition registered under `name` (its array form with `isArray`),
  // or empty.
  static std::shared_ptr<VornRawValueTypeDefinition> GetRawValueTypeDefinition(const std::string& name,
                                                                               bool isArray);

private:
  friend class VornMainComponent;
  friend struct VornValueTypesManagerTestAccess;
  friend class Vorn::SingletonSlot<VornValueTypesManager>;

  VornValueTypesManager();
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return nullptr; }

  static VornValueTypesManager* _GetInstance();
  static void _DeleteInstance();
  std::shared_ptr<VornRawValueTypeDefinition> _GetRawValueTypeDefinition(const std::string& name,
                                                                         bool isArray) const;
  void _AddRawValueTypeDefinitionFromValue(const std::string& name, const VornValue& sample, bool isArray);

  static Vorn::SingletonSlot<VornValueTypesManager> _Instance;
  std::unordered_map<std::string, std::shared_ptr<VornRawValueTypeDefinition>> m_definitions;
};
