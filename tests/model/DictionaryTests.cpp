// Data-types files and property dictionaries read from resource files, and
// the typed properties the dictionaries create.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vorn/host/SysLog.h"
#include "vorn/model/DataTypesManager.h"
#include "vorn/model/ModelProperty.h"
#include "vorn/model/PropertiesDico.h"

namespace {

std::string SuperOf(const std::string& name) {
  auto definition = VornDataTypesManager::GetDataTypeDefinition(name);
  if (!definition) return "<unregistered>";
  return definition->superType ? definition->superType->name : "";
}

const std::string kTag = "[Vorn - Model Properties Dico Manager] ";

}  // namespace

TEST(VornDataTypesManager, FilesResolveSuperTypesInEitherOrderAndKeepFirstDefinitions) {
  VornDataTypesManager::RegisterDataTypes("VornBasicDataTypes");
  VornDataTypesManager::RegisterDataTypes("TestTypesFirst");
  VornDataTypesManager::RegisterDataTypes("TestTypesSecond");
  VornDataTypesManager::RegisterDataTypes("NoSuchTypesFile");

  const std::pair<const char*, const char*> expected[] = {
      {"length", "number"}, {"angle", "number"}, {"circle", "geometry"}, {"number", ""},
      {"B", "A"},            // declared before its super type
      {"A", "number"},       // the second file's redefinition is ignored
      {"C", "A"},            // links to the registered A
      {"Self", ""},          // no loop onto itself
      {"Orphan", ""},        // super type never declared
      {"Flagged", "number"}, // unknown boolean keys are ignored
      {"Labelled", "<unregistered>"}, // unknown string key drops this type only
  };
  for (const auto& [name, super] : expected) {
    SCOPED_TRACE(name);
    EXPECT_EQ(SuperOf(name), super);
  }
  // A loop of two: one link is refused, so every chain ends.
  auto x = VornDataTypesManager::GetDataTypeDefinition("X");
  ASSERT_NE(x, nullptr);
  EXPECT_TRUE(SuperOf("X").empty() != SuperOf("Y").empty());
  EXPECT_EQ(VornDataTypesManager::GetDataTypeDefinition("A")->writableAs, (std::vector<std::string>{"number", "string"}));
  EXPECT_TRUE(VornDataTypesManager::GetDataTypeDefinition("B")->IsA("number"));
  EXPECT_FALSE(VornDataTypesManager::GetDataTypeDefinition("B")->IsA("string"));
}

TEST(VornModelPropertiesDicoManager, ReadsDefinitionsReportsUnknownKeysAndNeverOverrides) {
  KRTAbendCapture capture;
  VornModelPropertiesDicoManager::RegisterDico("TestDico", "resources\\Vorn\\");
  EXPECT_EQ(capture.Messages(),
            (std::vector<std::string>{
                kTag + "VornPropDefinitionVisitor for string => error: Unknown key = \"colour\"!",
                kTag + "VornPropDefinitionVisitor for boolean => error: Unknown key = \"visible\"!",
                kTag + "VornPropDefinitionVisitor for std::vector<KRTUnicodeString> => error: Unknown key = \"choices\"!",
                kTag + "VornPropDefinitionVisitor for string => error: Unknown key = \"isID\"!",
            }));
  capture.Clear();
  VornModelPropertiesDicoManager::RegisterDico("TestDicoSecond", "resources\\Vorn\\");
  VornModelPropertiesDicoManager::RegisterDico("Broken", "resources\\Vorn\\");
  VornModelPropertiesDicoManager::RegisterDico("Missing", "resources\\Vorn\\");
  EXPECT_EQ(capture.Count(), 0u);

  VornModelPropertyDefinition d;
  for (const char* dropped : {"badString", "badIDKind", "notAnObject"})
    EXPECT_FALSE(VornModelPropertiesDicoManager::_GetPropertyDefinition(dropped, d)) << dropped;
  for (const char* kept : {"badBool", "badArray", "extra", "id", "value"})
    EXPECT_TRUE(VornModelPropertiesDicoManager::_GetPropertyDefinition(kept, d)) << kept;

  ASSERT_TRUE(VornModelPropertiesDicoManager::_GetPropertyDefinition("count", d));
  EXPECT_EQ(d.type, "integer");  // the second dictionary does not override
  EXPECT_EQ(d.description, "a count");
  ASSERT_TRUE(VornModelPropertiesDicoManager::_GetPropertyDefinition("name", d));
  EXPECT_EQ(d.type, "string");  // nor does a later one override the default dictionary
  ASSERT_TRUE(VornModelPropertiesDicoManager::_GetPropertyDefinition("both", d));
  EXPECT_EQ(d.type, "number");
  EXPECT_EQ(d.isArray, 1);
  ASSERT_TRUE(VornModelPropertiesDicoManager::_GetPropertyDefinition("numberedID", d));
  EXPECT_FALSE(d.isID);
  ASSERT_TRUE(VornModelPropertiesDicoManager::_GetPropertyDefinition("choice", d));
  EXPECT_EQ(d.possibleValues, (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(d.readOnly && d.mustBeDumped && !d.isExchangeable);
}

TEST(VornModelProperty, CreationAndEverySetAreCheckedAgainstTheDeclaredType) {
  KRTAbendCapture capture;
  VornModelPropertiesDicoManager::RegisterDico("TestDico", "resources\\Vorn\\");
  EXPECT_EQ(VornModelPropertiesDicoManager::_CreatePropertyFromValue("nowhere", VornValue(1)), nullptr);
  EXPECT_EQ(capture.Last(), kTag + "Property nowhere does not exist!");
  EXPECT_EQ(VornModelPropertiesDicoManager::_CreatePropertyFromValue("count", VornValue(std::string("x"))), nullptr);
  EXPECT_EQ(capture.Last(), kTag + "Property \"count\" creation error: value type \"" +
                               std::string(Vorn::RawTypeName<std::string>()) +
                               "\" not compatible with proprety type \"integer\"!");
  EXPECT_EQ(VornModelPropertiesDicoManager::CreatePropertyFromNative<bool>("count"), nullptr);

  auto count = VornModelPropertiesDicoManager::CreatePropertyFromNative<int>("count");
  ASSERT_NE(count, nullptr);
  EXPECT_TRUE(count->GetAsJSONValue().IsNull());
  EXPECT_EQ(count->GetValue(), nullptr);
  capture.Clear();
  EXPECT_EQ(count->GetRawValue<int>(), 0);
  EXPECT_EQ(capture.Last(), "[Vorn - Model Property] Property 'count' has no value!");
  EXPECT_TRUE(count->SetValue(VornValue(3)));
  EXPECT_FALSE(count->SetValue(VornValue(3)));  // equal: no change
  capture.Clear();
  EXPECT_FALSE(count->SetValue(VornValue(std::string("4"))));  // wrong type: refused, kept
  EXPECT_EQ(capture.Count(), 1u);
  EXPECT_EQ(count->GetRawValue<int>(), 3);
  EXPECT_EQ(count->GetRawValue<double>(), 0.0);
  EXPECT_EQ(capture.Last(), "[Vorn - Model Property] Type mismatch for 'count' raw value!");

  // Arrays take array values only; ints widen to a floating type.
  auto lengths = VornModelPropertiesDicoManager::_CreatePropertyFromValue("lengths", VornValue(std::vector<int>{1, 2}));
  ASSERT_NE(lengths, nullptr);
  EXPECT_TRUE(lengths->SetValue(VornValue(std::vector<int>{1, 2})));
  EXPECT_EQ(lengths->GetRawValue<std::vector<double>>(), (std::vector<double>{1.0, 2.0}));
  EXPECT_FALSE(lengths->SetValue(VornValue(1.5)));
  auto anything = VornModelPropertiesDicoManager::_CreatePropertyFromValue("anything", VornValue());
  ASSERT_NE(anything, nullptr);
  EXPECT_TRUE(anything->SetValue(VornValue(std::string("text"))));
  EXPECT_TRUE(anything->SetValue(VornValue(2.5)));
  EXPECT_EQ(anything->GetAsJSONValue().Stringify(), "2.5");
}
