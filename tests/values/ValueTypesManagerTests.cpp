// VornValueTypesManager: the registered type words, their samples, the type
// check and the registry's lifetime.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "vorn/host/SysLog.h"
#include "vorn/values/ValueTypesManager.h"
#include "vorn/values/ValuesByString.h"

class VornModelObject;

// Reaches the registry's private lifetime and registration operations.
struct VornValueTypesManagerTestAccess {
  static VornValueTypesManager* Instance() { return VornValueTypesManager::_GetInstance(); }
  static void Delete() { VornValueTypesManager::_DeleteInstance(); }
  static void Add(const std::string& name, const VornValue& sample, bool isArray) {
    Instance()->_AddRawValueTypeDefinitionFromValue(name, sample, isArray);
  }
};

namespace {

using Def = std::shared_ptr<VornRawValueTypeDefinition>;
using ModelObjectPtr = std::shared_ptr<VornModelObject>;

Def Lookup(const std::string& name, bool isArray) {
  return VornValueTypesManager::GetRawValueTypeDefinition(name, isArray);
}

struct Row {
  const char* name;
  unsigned long long key;       // native type of the plain definition
  VornValue sample;             // its default value
  unsigned long long arrayKey;  // 0: no array definition under this name
};

template <class T>
constexpr unsigned long long Key() {
  return Vorn::TypeKey<T>();
}

std::vector<Row> Table() {
  using Strings = std::vector<std::string>;
  using Bools = std::vector<bool>;
  using Doubles = std::vector<double>;
  using Ints = std::vector<int>;
  using Records = std::vector<VornValuesByString>;
  using Objects = std::vector<ModelObjectPtr>;
  void* null = nullptr;
  return {
      {"unknown", Key<void*>(), null, 0},
      {"object", Key<void*>(), null, 0},
      {"objectArray", Key<std::vector<void*>>(), std::vector<void*>(), 0},
      {"std::string", Key<std::string>(), std::string(), Key<Strings>()},
      {"string", Key<std::string>(), std::string(), Key<Strings>()},
      {"stringArray", Key<Strings>(), Strings(), 0},
      {"bool", Key<bool>(), false, Key<Bools>()},
      {"boolArray", Key<Bools>(), Bools(), 0},
      {"boolean", Key<bool>(), false, Key<Bools>()},
      {"booleanArray", Key<Bools>(), Bools(), 0},
      {"number", Key<double>(), 0.0, Key<Doubles>()},
      {"numberArray", Key<Doubles>(), Doubles(), 0},
      {"double", Key<double>(), 0.0, Key<Doubles>()},
      {"doubleArray", Key<Doubles>(), Doubles(), 0},
      {"real", Key<double>(), 0.0, Key<Doubles>()},
      {"realArray", Key<Doubles>(), Doubles(), 0},
      {"int", Key<int>(), 0, Key<Ints>()},
      {"intArray", Key<Ints>(), Ints(), 0},
      {"integer", Key<int>(), 0, Key<Ints>()},
      {"integerArray", Key<Ints>(), Ints(), 0},
      {"VornValuesByString", Key<VornValuesByString>(), VornValuesByString(), Key<Records>()},
      {"VornModelObjectSharedPtr", Key<ModelObjectPtr>(), ModelObjectPtr(), Key<Objects>()},
  };
}

TEST(VornValueTypesManager, EveryRegisteredWordHasItsNativeTypeAndDefault) {
  for (const Row& row : Table()) {
    SCOPED_TRACE(row.name);
    const Def def = Lookup(row.name, false);
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(def->typeName, row.name);
    EXPECT_FALSE(def->isArray);
    EXPECT_TRUE(def->isBuiltIn);
    EXPECT_EQ(def->typeInfo.key, row.key);
    EXPECT_EQ(def->sample.GetTypeKey(), row.key);
    EXPECT_EQ(def->sample, row.sample);
    EXPECT_TRUE(def->CheckType(row.sample, false));

    const Def array = Lookup(row.name, true);
    if (row.arrayKey == 0) {
      EXPECT_EQ(array, nullptr);
      continue;
    }
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(array->typeName, row.name);  // stored without the array suffix
    EXPECT_TRUE(array->isArray);
    EXPECT_TRUE(array->isBuiltIn);
    EXPECT_EQ(array->typeInfo.key, row.arrayKey);
    EXPECT_EQ(array->sample.GetTypeKey(), row.arrayKey);
    EXPECT_NE(array, def);
  }
}

TEST(VornRawValueTypeDefinition, NumberRejectsAnIntAndNamesBothTypes) {
  KRTAbendCapture capture;
  const Def number = Lookup("number", false);
  ASSERT_NE(number, nullptr);

  EXPECT_FALSE(number->CheckType(VornValue(1), false));
  EXPECT_EQ(capture.Count(), 0u);

  EXPECT_FALSE(number->CheckType(VornValue(1), true));
  ASSERT_EQ(capture.Count(), 1u);
  EXPECT_EQ(capture.Last(), "VornRawValueTypeDefinition::CheckType => type mismatch! Expected=double, got=int");

  EXPECT_TRUE(number->CheckType(VornValue(2.5), true));
  EXPECT_EQ(capture.Count(), 1u);
}

TEST(VornRawValueTypeDefinition, EmptyValueIsRejectedWithAnEmptyTypeName) {
  KRTAbendCapture capture;
  const Def integer = Lookup("integer", false);
  ASSERT_NE(integer, nullptr);
  EXPECT_FALSE(integer->CheckType(VornValue(), true));
  EXPECT_EQ(capture.Last(), "VornRawValueTypeDefinition::CheckType => type mismatch! Expected=int, got=");

  // "object" stores void*: an empty value is not a null pointer.
  EXPECT_FALSE(Lookup("object", false)->CheckType(VornValue(), false));
}

TEST(VornRawValueTypeDefinition, ArrayFormsCheckTheVectorType) {
  KRTAbendCapture capture;
  const Def integers = Lookup("integer", true);
  ASSERT_NE(integers, nullptr);
  EXPECT_TRUE(integers->CheckType(VornValue(std::vector<int>{1, 2}), true));
  EXPECT_FALSE(integers->CheckType(VornValue(std::vector<double>{1.0}), false));
  EXPECT_FALSE(integers->CheckType(VornValue(1), false));
  EXPECT_EQ(capture.Count(), 0u);
}

TEST(VornRawValueTypeDefinition, UnknownAcceptsEverythingEvenAnEmptyValue) {
  KRTAbendCapture capture;
  const Def unknown = Lookup("unknown", false);
  ASSERT_NE(unknown, nullptr);
  EXPECT_TRUE(unknown->CheckType(VornValue(), true));
  EXPECT_TRUE(unknown->CheckType(VornValue(1), true));
  EXPECT_TRUE(unknown->CheckType(VornValue("s"), true));
  EXPECT_TRUE(unknown->CheckType(VornValue(std::vector<VornValue>{}), true));
  EXPECT_EQ(capture.Count(), 0u);
}

TEST(VornValueTypesManager, SecondRegistrationOfANameIsRefusedAndReported) {
  KRTAbendCapture capture;
  const Def before = Lookup("integer", false);
  const Def beforeArray = Lookup("integer", true);

  VornValueTypesManagerTestAccess::Add("integer", VornValue(std::string()), false);
  VornValueTypesManagerTestAccess::Add("integer", VornValue(std::vector<std::string>()), true);
  EXPECT_EQ(capture.Messages(), (std::vector<std::string>{"[Vorn - Value Types Manager] Type integer already defined!",
                                                          "[Vorn - Value Types Manager] Type integer (array) already "
                                                          "defined!"}));
  EXPECT_EQ(Lookup("integer", false), before);
  EXPECT_EQ(Lookup("integer", true), beforeArray);
  EXPECT_EQ(before->typeInfo.key, Vorn::TypeKey<int>());
}

TEST(VornValueTypesManager, ADeletedRegistryIsRebuiltOnTheNextLookup) {
  const Def held = Lookup("real", false);
  VornValueTypesManagerTestAccess::Delete();
  // Definitions handed out stay usable after the registry has gone.
  EXPECT_EQ(held->typeName, "real");
  EXPECT_TRUE(held->CheckType(VornValue(1.0), false));

  const Def fresh = Lookup("real", false);
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh, held);
  EXPECT_EQ(fresh->typeInfo.key, held->typeInfo.key);
  EXPECT_NE(VornValueTypesManagerTestAccess::Instance(), nullptr);
}

}  // namespace
