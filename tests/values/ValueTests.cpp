// Values without reports: named values, object reference ids and the value
// types registry (its reports are checked in ValuesReportsTests.cpp).

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "vorn/host/SysLog.h"
#include "vorn/values/NamedValues.h"
#include "vorn/values/ObjectRefID.h"
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

std::vector<std::string> Names(const VornNamedValues& named) {
  std::vector<std::string> names;
  for (const auto& entry : named.GetValues()) names.push_back(entry.first);
  return names;
}

TEST(VornNamedValues, SetAppendsNewNamesInOrderAndReplacesExistingOnesInPlace) {
  VornNamedValues named;
  named.Set("b", 1);
  named.Set("a", "text");
  named.Set("c", 2.5);
  EXPECT_EQ(Names(named), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(named.Get("missing"), nullptr);

  named.Set("a", 3);            // a different type is fine
  named.Set("c", VornValue());  // an empty value is stored, not an erasure
  EXPECT_EQ(Names(named), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(*named.Get("a"), VornValue(3));
  EXPECT_FALSE(named.Get("c")->HasRawValue());
}

TEST(VornNamedValues, ConstructedFromATableCopiesItInItsOrder) {
  VornValuesByString table;
  table.try_emplace("x", 1);
  table.try_emplace("y", 2);
  table.try_emplace("z", 3);
  table.erase(std::string("x"));  // "z" moves into the hole: order is z, y
  VornNamedValues named(table);
  EXPECT_EQ(Names(named), (std::vector<std::string>{"z", "y"}));
  table["y"] = VornValue(20);
  EXPECT_EQ(*named.Get("y"), VornValue(2));
}

constexpr unsigned long long kAllOnes = 0xFFFFFFFFFFFFFFFFull;

static_assert(!VornObjectRefID().IsValid());
static_assert(VornObjectRefID(0).IsValid());
static_assert(VornObjectRefID() == VornObjectRefID(kAllOnes));

TEST(VornObjectRefID, ReadsHexadecimalTextAndAnythingElseGivesTheInvalidId) {
  struct Case {
    const char* text;
    unsigned long long raw;  // all ones: the invalid id
  };
  const Case cases[] = {
      {"FF", 255}, {"0", 0}, {"fedcba9876543210", 0xfedcba9876543210ull}, {"", kAllOnes}, {"g1", kAllOnes},
      {"0x1f", 0x1f},  // the stream accepts the prefix in hexadecimal mode
      {"\t 1a", 0x1a},  // leading white space is skipped
      {"10 20", 0x10},  // reading stops at the first number
      {"12g", 0x12},    // ... and at the first non-digit
      {"10000000000000000", kAllOnes},  // 65 bits
      {"ffffffffffffffff", kAllOnes},   // reads fine but is the invalid marker itself
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const VornObjectRefID id{std::string(c.text)};
    EXPECT_EQ(id.GetRawID(), c.raw);
    EXPECT_EQ(id.IsValid(), c.raw != kAllOnes);
  }
}

using Def = std::shared_ptr<VornRawValueTypeDefinition>;
using ModelObjectPtr = std::shared_ptr<VornModelObject>;

Def Lookup(const std::string& name, bool isArray) {
  return VornValueTypesManager::GetRawValueTypeDefinition(name, isArray);
}

struct Row {
  std::string name;
  unsigned long long key;       // native type of the plain definition
  VornValue sample;             // its default value
  unsigned long long arrayKey;  // 0: no array definition under this name
};

// The word `name` for a default T, with an array definition of std::vector<T>
// if `withArray`, followed by the separate word "<name>Array" if `arrayWord`.
template <class T>
void AddWord(std::vector<Row>& rows, const char* name, bool withArray, bool arrayWord) {
  using Array = std::vector<T>;
  rows.push_back({name, Vorn::TypeKey<T>(), T(), withArray ? Vorn::TypeKey<Array>() : 0});
  if (arrayWord) rows.push_back({std::string(name) + "Array", Vorn::TypeKey<Array>(), Array(), 0});
}

std::vector<Row> Table() {
  std::vector<Row> rows;
  AddWord<void*>(rows, "unknown", false, false);
  AddWord<void*>(rows, "object", false, true);
  AddWord<std::string>(rows, "std::string", true, false);
  AddWord<std::string>(rows, "string", true, true);
  for (const char* name : {"bool", "boolean"}) AddWord<bool>(rows, name, true, true);
  for (const char* name : {"number", "double", "real"}) AddWord<double>(rows, name, true, true);
  for (const char* name : {"int", "integer"}) AddWord<int>(rows, name, true, true);
  AddWord<VornValuesByString>(rows, "VornValuesByString", true, false);
  AddWord<ModelObjectPtr>(rows, "VornModelObjectSharedPtr", true, false);
  return rows;
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
    EXPECT_EQ(def->sample, row.sample);  // of the same type too

    const Def array = Lookup(row.name, true);
    ASSERT_EQ(array != nullptr, row.arrayKey != 0);
    if (!array) continue;
    EXPECT_EQ(array->typeName, row.name);  // stored without the array suffix
    EXPECT_TRUE(array->isArray);
    EXPECT_EQ(array->typeInfo.key, row.arrayKey);
    EXPECT_EQ(array->sample.GetTypeKey(), row.arrayKey);
  }
}

TEST(VornRawValueTypeDefinition, CheckTypeWantsTheNativeTypeExceptForUnknown) {
  KRTAbendCapture capture;
  struct Case {
    const char* name;
    bool isArray;
    VornValue value;
    bool accepted;
  };
  const Case cases[] = {
      {"number", false, 2.5, true}, {"number", false, 1, false},
      {"object", false, VornValue(), false},  // void*: an empty value is not a null pointer
      {"integer", true, std::vector<int>{1, 2}, true}, {"integer", true, std::vector<double>{1.0}, false},
      {"unknown", false, VornValue(), true}, {"unknown", false, "s", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.isArray ? "[] " : " ") + std::string(c.value.GetTypeName()));
    const Def def = Lookup(c.name, c.isArray);
    ASSERT_NE(def, nullptr);
    // Asks for a report only where none is due.
    EXPECT_EQ(def->CheckType(c.value, c.accepted), c.accepted);
  }
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
  EXPECT_TRUE(held->CheckType(VornValue(1.0), false));
  const Def fresh = Lookup("real", false);
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh, held);
  EXPECT_EQ(fresh->typeInfo.key, held->typeInfo.key);
}

}  // namespace
