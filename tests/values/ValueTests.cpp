// Values without reports: named values, object reference ids and the value
// types registry (its reports are checked in ValuesReportsTests.cpp).

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
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

TEST(VornNamedValues, SetReplacesInPlaceAndAppendsNewNamesAfterATablesOwnOrder) {
  VornValuesByString table;
  for (const char* name : {"x", "b", "a"}) table.try_emplace(name, 1);
  table.erase(std::string("x"));  // "a" moves into the hole: order is a, b
  VornNamedValues named(table);
  table["b"] = VornValue(20);  // the named values hold a copy
  named.Set("c", 2.5);
  named.Set("a", "text");       // a different type is fine
  named.Set("c", VornValue());  // an empty value is stored, not an erasure
  std::vector<std::string> names;
  for (const auto& entry : named.GetValues()) names.push_back(entry.first);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(*named.Get("a"), VornValue("text"));
  EXPECT_EQ(*named.Get("b"), VornValue(1));
  EXPECT_FALSE(named.Get("c")->HasRawValue());
  EXPECT_EQ(named.Get("missing"), nullptr);
}

constexpr unsigned long long kAllOnes = 0xFFFFFFFFFFFFFFFFull;

static_assert(!VornObjectRefID().IsValid());
static_assert(VornObjectRefID(0).IsValid());
static_assert(VornObjectRefID() == VornObjectRefID(kAllOnes));

TEST(VornObjectRefID, ReadsHexadecimalTextAndAnythingElseGivesTheInvalidId) {
  // Raw value read; all ones: the invalid id.
  const std::pair<const char*, unsigned long long> cases[] = {
      {"FF", 255}, {"0", 0}, {"fedcba9876543210", 0xfedcba9876543210ull}, {"", kAllOnes}, {"g1", kAllOnes},
      {"0x1f", 0x1f},  // the stream accepts the prefix in hexadecimal mode
      {"\t 1a", 0x1a},  // leading white space is skipped
      {"10 20", 0x10},  // reading stops at the first number
      {"10000000000000000", kAllOnes},  // 65 bits
      {"ffffffffffffffff", kAllOnes},   // reads fine but is the invalid marker itself
  };
  for (const auto& [text, raw] : cases) {
    const VornObjectRefID id{std::string(text)};
    EXPECT_EQ(id.GetRawID(), raw) << text;
    EXPECT_EQ(id.IsValid(), raw != kAllOnes) << text;
  }
}

using Def = std::shared_ptr<VornRawValueTypeDefinition>;

Def Lookup(const std::string& name, bool isArray) {
  return VornValueTypesManager::GetRawValueTypeDefinition(name, isArray);
}

// The word `name` has a plain definition of a default T, and an array one of
// std::vector<T> under the same name if `withArray`.
template <class T>
void ExpectWord(const std::string& name, bool withArray) {
  SCOPED_TRACE(name);
  const Def def = Lookup(name, false);
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->typeName, name);
  EXPECT_FALSE(def->isArray);
  EXPECT_TRUE(def->isBuiltIn);
  EXPECT_EQ(def->typeInfo.key, Vorn::TypeKey<T>());
  EXPECT_EQ(def->sample, VornValue(T()));  // of the same type too
  const Def array = Lookup(name, true);
  ASSERT_EQ(array != nullptr, withArray);
  if (!array) return;
  EXPECT_EQ(array->typeName, name);  // stored without the array suffix
  EXPECT_TRUE(array->isArray);
  EXPECT_EQ(array->typeInfo.key, Vorn::TypeKey<std::vector<T>>());
  EXPECT_EQ(array->sample.GetTypeKey(), array->typeInfo.key);
}

// Also the separate plain word "<name>Array" if `arrayWord`.
template <class T>
void ExpectWords(std::initializer_list<const char*> names, bool withArray, bool arrayWord) {
  for (const char* name : names) {
    ExpectWord<T>(name, withArray);
    if (arrayWord) ExpectWord<std::vector<T>>(std::string(name) + "Array", false);
  }
}

TEST(VornValueTypesManager, EveryRegisteredWordHasItsNativeTypeAndDefault) {
  ExpectWords<void*>({"unknown"}, false, false);
  ExpectWords<void*>({"object"}, false, true);
  ExpectWords<std::string>({"std::string"}, true, false);
  ExpectWords<std::string>({"string"}, true, true);
  ExpectWords<bool>({"bool", "boolean"}, true, true);
  ExpectWords<double>({"number", "double", "real"}, true, true);
  ExpectWords<int>({"int", "integer"}, true, true);
  ExpectWords<VornValuesByString>({"VornValuesByString"}, true, false);
  ExpectWords<std::shared_ptr<VornModelObject>>({"VornModelObjectSharedPtr"}, true, false);
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
