// Plug-in libraries and factories, remote functions and objects, and the
// communication manager (through TryCall, a recording node taking emissions).
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "common/TempDir.h"
#include "vorn/host/SysLog.h"
#include "vorn/remote/Binding.h"
#include "vorn/remote/CommunicationManager.h"
#include "vorn/remote/RemoteObject.h"
#include "vorn/runtime/LibBasedFactory.h"
#include "vorn/runtime/LibrariesManager.h"

struct VornCommunicationManagerTestAccess {
  static void Reset() { VornCommunicationManager_V1::_DeleteInstance(); }
  static bool Publish(const std::string& sender, const std::string& name) {
    return VornCommunicationManager_V1::_PublishRemoteEvent(sender, name);
  }
  static bool Publish(const std::string& sender, const std::string& name, const VornJSONValue& data) {
    return VornCommunicationManager_V1::_PublishRemoteEvent(sender, name, data);
  }
  // What the manager caches: library functions and the factory's class records.
  static std::size_t Cached() {
    const auto* manager = VornCommunicationManager_V1::_Instance.Peek();
    std::size_t count = manager ? manager->_CachedClassInfoCount() : 0;
    if (manager)
      for (const auto& [library, functions] : manager->m_libraryFunctions) count += functions.size();
    return count;
  }
};

namespace {

using Access = VornCommunicationManagerTestAccess;
using M = VornCommunicationManager_V1;
const std::string kFunctionsLib = "vorn_test_plugin_functions";
const std::string kPartialLib = "vorn_test_plugin_partial";

class FunctionFactory final : public VornLibBasedFactory_V1<VornRemoteFunction_V1> {
public:
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }
};

using Strings = std::vector<std::string>;

struct Replies {
  std::vector<VornJSONValue> values;
  VornRemoteFunction_V1::Reply Recorder() {
    return [this](const VornJSONValue& v) { values.push_back(v); };
  }
  Strings Texts() const {
    Strings texts;
    for (const VornJSONValue& v : values) texts.push_back(v.Stringify());
    return texts;
  }
};

// A C function of a test plug-in that the libraries manager keeps loaded.
template <class Fn>
Fn PluginFunction(const std::string& library, const char* symbol) {
  void* handle = dlopen(("lib" + library + ".so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  Fn fn = handle ? reinterpret_cast<Fn>(dlsym(handle, symbol)) : nullptr;
  if (handle) dlclose(handle);
  return fn;
}

VornJSONObject Obj(const std::string& text) { return VornJSONObject::BuildFromString(text); }

// The files the process maps (the path column of /proc/self/maps).
std::set<std::string> Mapped() {
  std::set<std::string> files;
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    if (const auto slash = line.find('/'); slash != std::string::npos) files.insert(line.substr(slash));
  return files;
}
std::vector<std::string> MappedSince(const std::set<std::string>& before) {
  std::vector<std::string> added;
  std::ranges::set_difference(Mapped(), before, std::back_inserter(added));
  return added;
}

std::string Copy(const char* from, const std::filesystem::path& to) {
  std::filesystem::copy_file(from, to);
  return std::filesystem::canonical(to).string();
}

TEST(LibrariesManager, LoadsOnceRetriesFailuresAndRefusesPathsInNames) {
  KRTAbendCapture capture;
  auto first = Vorn::GetLibrary(kFunctionsLib);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(VornLibrariesManager::GetLibrary(kFunctionsLib), first);
  EXPECT_EQ(capture.Count(), 0u);

  // Not cached: each request tries again and reports again.
  for (int attempt = 0; attempt < 2; ++attempt) EXPECT_EQ(Vorn::GetLibrary("vorn_no_such_plugin"), nullptr);
  ASSERT_EQ(capture.Count(), 2u);
  const std::string head =
      "[Vorn - Libraries Manager] Failed to load library 'vorn_no_such_plugin' from path 'vorn_no_such_plugin'!\n"
      "Please check that the library exists and is accessible in your runtime view.\n"
      "Internal Error (OVK): \"";
  for (const std::string& m : capture.Messages()) {
    EXPECT_EQ(m.rfind(head, 0), 0u) << m;
    EXPECT_NE(m.find("libvorn_no_such_plugin.so"), std::string::npos) << m;  // the loader's own text
    EXPECT_EQ(m.back(), '"');
  }
  for (const char* name : {"../vorn_test_plugin_functions", "dir/lib", "dir\\lib", "a..b", ""}) {
    capture.Clear();
    EXPECT_EQ(Vorn::GetLibrary(name), nullptr) << name;
    ASSERT_EQ(capture.Count(), 1u) << name;
    const std::string head = std::string("[Vorn - Libraries Manager] Refused library name '") + name + "': the name ";
    EXPECT_EQ(capture.Last().rfind(head, 0), 0u) << capture.Last();
  }
}

TEST(LibBasedFactory, CreatesAndDeletesWithEveryMessage) {
  FunctionFactory factory;
  // Echo exports all three symbols, OnlyCreate only its creation. The first
  // creation loads the plug-in, so its count is read after it.
  VornRemoteFunction_V1* echo = factory.CreateInstancePtr(kFunctionsLib, "Echo");
  auto live = PluginFunction<int (*)()>(kFunctionsLib, "VornTestLiveFunctions");
  ASSERT_TRUE(echo && live);
  const int before = live() - 1;
  KRTAbendCapture capture;
  VornRemoteFunction_V1* only = factory.CreateInstancePtr(kPartialLib, "OnlyCreate");
  auto made = factory.CreateInstancesVector(kFunctionsLib, "Echo");
  ASSERT_TRUE(echo && only && made.size() == 1u);
  EXPECT_EQ(live(), before + 2);
  EXPECT_TRUE(factory.CreateInstancesVector(kPartialLib, "OnlyCreate").empty());  // silent, as the next
  EXPECT_EQ(factory.CreateInstancePtr(kPartialLib, "Absent"), nullptr);
  factory.DeleteInstancePtr(echo, kFunctionsLib, "Echo");
  factory.DeleteInstancePtr(made[0], kFunctionsLib, "Echo");
  EXPECT_EQ(live(), before);
  factory.DeleteInstancePtr(only, kPartialLib, "OnlyCreate");  // reported, left alone
  delete only;
  EXPECT_EQ(factory.CreateInstancePtr(kPartialLib, "Null"), nullptr);
  EXPECT_EQ(factory.CreateInstancePtr("vorn_no_such_plugin", "Echo"), nullptr);
  // Spelling "Echo" of kFunctionsLib across the two names finds nothing cached.
  EXPECT_EQ(factory.CreateInstancePtr(kFunctionsLib + "E", "cho"), nullptr);
  const auto m = capture.Messages();  // the first is the deletion's: nothing before it reported
  ASSERT_EQ(m.size(), 6u);
  const std::string head = "[VornLibBasedFactory_V1::";
  EXPECT_EQ(m[0], head + "DeleteInstancePtr] Deletion function not found for OnlyCreate in library " + kPartialLib);
  EXPECT_EQ(m[1], head + "CreateInstancePtr] Instance creation failed for Null from library " + kPartialLib);
  EXPECT_EQ(m[3], head + "CreateInstancePtr] Info not found for Echo in library vorn_no_such_plugin");
}

TEST(LibBasedFactory, SharedCreationKeepsAnExistingOwnership) {
  FunctionFactory factory;
  KRTAbendCapture capture;
  auto echo = factory.CreateInstanceSharedPtr(kFunctionsLib, "Echo");
  ASSERT_NE(echo, nullptr);
  EXPECT_EQ(echo.use_count(), 1);
  EXPECT_EQ(echo->GetSharedPtr(), echo);  // the weak self-reference is bound

  auto useCount = PluginFunction<long (*)()>(kFunctionsLib, "VornTestSharedUseCount");
  auto shared = factory.CreateInstanceSharedPtr(kFunctionsLib, "Shared");
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(useCount(), 2);  // the plug-in's owner and ours
  EXPECT_EQ(factory.CreateInstanceSharedPtr(kFunctionsLib, "Shared"), shared);

  EXPECT_EQ(factory.CreateInstanceSharedPtr(kPartialLib, "Null"), nullptr);
  EXPECT_EQ(capture.Last(), "[VornLibBasedFactory_V1::CreateInstanceSharedPtr] Instance creation failed for Null "
                            "from library " + kPartialLib);
  EXPECT_EQ(factory.CreateInstanceSharedPtr(kPartialLib, "Absent"), nullptr);
  EXPECT_EQ(capture.Last(), "[VornLibBasedFactory_V1::CreateInstanceSharedPtr] Creation function not found for "
                            "Absent in library " + kPartialLib);
}

class Unbound final : public VornRemoteFunction_V1 {};

TEST(Binding, ConvertsArgumentsByNameAndAnswersOnce) {
  auto fn = Vorn::MakeRemoteFunction(
      "mix", {"i", "d", "s", "flag", "list"},
      [](int i, double d, const std::string& s, std::optional<bool> flag, const std::vector<std::int64_t>& list)
          -> std::optional<std::string> {
        std::int64_t sum = 0;
        for (auto v : list) sum += v;
        return s + ":" + std::to_string(i + static_cast<int>(d) + sum) + (flag ? (*flag ? "+" : "-") : "?");
      });
  // Each parameter and the result carry the schema of what they take (an optional parameter is not required).
  const std::string kInt = "integer in [-2147483648, 2147483647]";
  const std::pair<std::string, bool> schemas[] = {
      {R"({"type":"integer","minimum":-2147483648,"maximum":2147483647})", true}, {R"({"type":"number"})", true},
      {R"({"type":"string"})", true}, {R"({"type":"boolean"})", false},
      {R"({"type":"array","items":{"type":"integer","minimum":-9223372036854775808,"maximum":9223372036854775807}})",
       true}};
  const auto& params = fn->GetParameterDescriptors();
  ASSERT_EQ(params.size(), 5u);
  for (std::size_t i = 0; i < params.size(); ++i)
    EXPECT_EQ(std::pair(params[i].schema.Stringify(), params[i].required), schemas[i]) << params[i].name;
  EXPECT_EQ(fn->GetResultSchema().Stringify(), R"({"anyOf":[{"type":"string"},{"type":"null"}]})");
  EXPECT_EQ(params[2].name, "s");
  EXPECT_EQ(params[2].typeKey, Vorn::TypeKey<std::string>());
  EXPECT_TRUE(fn->IsBound());

  const auto error = [](const std::string& argument, const std::string& problem) {
    return R"({"error":{"message":"Argument ')" + argument + "' " + problem + R"(","argument":")" + argument + "\"}}";
  };
  struct Case {
    const char* args;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {R"({"i":1,"d":2.5,"s":"x","list":[3,4]})", R"({"_func_return":"x:10?"})"},
      {R"({"i":2.0,"d":1,"s":"y","flag":true,"list":[]})", R"({"_func_return":"y:3+"})"},
      {R"({"d":1,"s":"x","list":[]})", error("i", "is missing (expected " + kInt + ")")},
      {R"({"i":1.5,"d":1,"s":"x","list":[]})", error("i", "must be " + kInt + ", got number")},
      {R"({"i":4294967296,"d":1,"s":"x","list":[]})", error("i", "must be " + kInt + ", got integer")},
      {R"({"i":1,"d":"2","s":"x","list":[]})", error("d", "must be number, got string")},
      {R"({"i":1,"d":1,"s":"x","flag":null,"list":[]})", error("flag", "must be boolean, got null")},
      {R"({"i":1,"d":1,"s":"x","list":[1,"2"]})",
       error("list", "must be array of integer in [-9223372036854775808, 9223372036854775807], got array")},
  };
  KRTAbendCapture capture;
  for (const Case& c : cases) {
    Replies replies;
    fn->Call(replies.Recorder(), Obj(c.args));
    EXPECT_EQ(replies.Texts(), Strings{c.reply}) << c.args;
  }
  EXPECT_EQ(capture.Count(), 0u);  // mismatches are answered, not reported
}

TEST(Binding, ErrorsVoidResultsUnnamedParametersAndUnsetFunctions) {
  KRTAbendCapture capture;
  Replies replies;
  Unbound().Call(replies.Recorder(), VornJSONObject());  // reported, never answered
  EXPECT_EQ(capture.Messages(), std::vector<std::string>{"[VornRemoteFunction_V1::Call] Underlying function is not set!"});
  auto fail = Vorn::MakeRemoteFunction("fail", {}, [](int) -> int { throw std::runtime_error("bad input"); });
  EXPECT_EQ(fail->GetParameterDescriptors()[0].name, "unnamed_arg_0");
  fail->Call(replies.Recorder(), Obj(R"({"unnamed_arg_0":1})"));
  int calls = 0;
  auto count = Vorn::MakeRemoteFunction("count", {}, [&calls] { ++calls; });
  count->Call(replies.Recorder(), VornJSONObject());
  auto whole = Vorn::MakeRemoteFunction("whole", {"o", "v"}, [](VornJSONObject o, VornJSONValue v) {
    return std::vector<VornJSONValue>{VornJSONValue(o.GetSize()), v};
  });
  whole->Call(replies.Recorder(), Obj(R"({"o":{"k":1},"v":null})"));
  // A remote error answers with its reason and details, never overriding the message or the reason.
  VornValueConstraints limits;
  limits.objectId = "o";
  limits.kind = VornValueKind::Integer;
  limits.max = 10;
  auto set = Vorn::MakeRemoteFunction("set", {"v"}, [&](int v) {
    VornValue converted;
    if (VornValueRefusal refusal = limits.Convert(VornJSONValue(v), converted)) throw Vorn::RemoteError(refusal);
    throw Vorn::RemoteError("sign", "negative", VornJSONObject{{"reason", "hidden"}, {"v", v}});
  });
  for (const char* args : {R"({"v":11})", R"({"v":-1})"}) set->Call(replies.Recorder(), Obj(args));
  EXPECT_EQ(replies.Texts(), (Strings{R"({"error":{"message":"bad input"}})", R"({"_func_return":null})",
                                      R"({"_func_return":[1,null]})",
                                      R"({"error":{"message":"'o' takes values up to 10, not 11","reason":"range",)"
                                      R"("object":"o","property":"value","value":11,"max":10}})",
                                      R"({"error":{"message":"negative","reason":"sign","v":-1}})"}));
  EXPECT_EQ(calls, 1);
}

class TestObject final : public VornKRTRemoteObject {
public:
  TestObject(const std::string& id, const std::string& ns, bool* destroyed)
      : VornKRTRemoteObject(id, "refs", true, ns), m_destroyed(destroyed) {
    _AddRemoteFunction("echo", Vorn::MakeRemoteFunction("echo", {"v"}, [](VornJSONValue v) { return v; }));
    // Requests its own object's destruction, then still reads its captures.
    _AddRemoteFunction("quit", Vorn::MakeRemoteFunction("quit", {}, [this, tag = std::string(40, 'q')] {
                         RequestDestruction();
                         return tag.size();
                       }));
    _AddRemoteFunction("forget", Vorn::MakeRemoteFunction("forget", {}, [this, tag = std::string(40, 'f')] {
                         _RemoveRemoteFunction("forget");
                         return tag.size();
                       }));
  }
  ~TestObject() override {
    if (m_destroyed) *m_destroyed = true;
  }
  static std::shared_ptr<TestObject> Make(const std::string& id, const std::string& ns = "ns",
                                          bool* destroyed = nullptr) {
    std::shared_ptr<TestObject> object(new TestObject(id, ns, destroyed));
    object->_RegisterRemoteObject();
    return object;
  }
  using VornRemoteObject::_AddRemoteFunction;
  using VornRemoteObject::_PublishRemoteEvent;

private:
  bool* m_destroyed;
};

class Communication : public ::testing::Test {
protected:
  void SetUp() override { M::SetMBXNode(&node); }
  void TearDown() override { Access::Reset(); }
  bool Call(const std::string& ns, const std::string& id, const std::string& fn, const char* args = "{}") {
    return M::TryCallRemoteObjectFunc(ns, id, fn, replies.Recorder(), Obj(args));
  }
  MBX::RecordingNode node;
  Replies replies;
  KRTAbendCapture capture;
};

TEST_F(Communication, RoutesCallsToRegisteredObjects) {
  auto first = TestObject::Make("obj");
  EXPECT_EQ(first->GetRefsRegistryName(), "refs");
  EXPECT_TRUE(first->MustConvertKRTObjectsToJSON());
  EXPECT_FALSE(first->_AddRemoteFunction("echo", Vorn::MakeRemoteFunction("echo", {}, [] { return 0; })));
  auto second = TestObject::Make("obj");
  EXPECT_EQ(capture.Last(), "[Vorn - CommunicationManager] A Remote Object in namespace 'ns' with ID 'obj' already exists!");
  EXPECT_TRUE(Call("ns", "obj", "echo", R"({"v":[1]})"));
  EXPECT_FALSE(Call("ns", "other", "echo"));
  EXPECT_FALSE(Call("other", "obj", "echo"));
  EXPECT_FALSE(Call("", "obj", "echo"));
  capture.Clear();
  EXPECT_TRUE(Call("ns", "obj", "nope"));
  EXPECT_EQ(capture.Messages(), std::vector<std::string>{"VornRemoteObject::Call => Remote Function nope not found!"});
  for (const char* fn : {"nope", "echo"})  // an empty reply is skipped, found or not
    EXPECT_TRUE(M::TryCallRemoteObjectFunc("ns", "obj", fn, {}, VornJSONObject()));
  EXPECT_EQ(replies.Texts(), (Strings{R"({"_func_return":[1]})", "null"}));
}

TEST_F(Communication, DestructionRequestsUnregisterEvenMidCall) {
  bool destroyed = false;
  TestObject::Make("self", "ns", &destroyed);  // only the manager holds it
  // Keys that concatenation would merge stay apart.
  auto a = TestObject::Make("b/c", "a");
  auto b = TestObject::Make("c", "a/b");
  EXPECT_TRUE(Call("ns", "self", "forget"));
  EXPECT_TRUE(Call("ns", "self", "forget"));  // now answered with null
  EXPECT_TRUE(Call("ns", "self", "quit"));
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(Call("ns", "self", "echo"));
  b->RequestDestruction();
  EXPECT_TRUE(Call("a", "b/c", "echo", R"({"v":1})"));
  EXPECT_FALSE(Call("a/b", "c", "echo", R"({"v":1})"));
  const std::string forty = R"({"_func_return":40})";
  EXPECT_EQ(replies.Texts(), (Strings{forty, "null", forty, R"({"_func_return":1})"}));

  bool released = false;
  TestObject::Make("kept", "ns", &released);
  Access::Reset();  // the manager's end requests every object's destruction
  EXPECT_TRUE(released);
}

TEST_F(Communication, EmitsEventsInTheWireFormat) {
  auto object = TestObject::Make("");  // a generated identifier
  const std::string id = object->GetID();
  EXPECT_EQ(id.size(), 36u);
  EXPECT_FALSE(object->PublishRemoteEvent(""));
  EXPECT_FALSE(object->_PublishRemoteEvent("", VornJSONValue(5)));
  EXPECT_FALSE(object->_PublishRemoteEvent("", OVK::Binary("x", 1)));  // nor sent: three emissions below
  EXPECT_TRUE(object->_PublishRemoteEvent("onData", VornJSONValue(5)));
  EXPECT_TRUE(object->_PublishRemoteEvent("onBytes", OVK::Binary("ab", 2)));
  node.SetStatus(-1);
  EXPECT_FALSE(object->PublishRemoteEvent("onPing"));  // sent, but the node failed it
  const auto emissions = node.Emissions();
  ASSERT_EQ(emissions.size(), 3u);
  for (const auto& e : emissions) {
    EXPECT_EQ(e.event, "VornRemoteEvent");
    EXPECT_TRUE(e.hasTarget);
  }
  EXPECT_EQ(emissions[0].target, (id + "$VORN$onData").c_str());
  ASSERT_EQ(emissions[0].parameters.Count(), 1u);
  EXPECT_EQ(*emissions[0].parameters.FindString("eventData"), R"({"data":5})");
  EXPECT_EQ(*emissions[1].parameters.FindBuffer("eventDataBinary"), OVK::Binary("ab", 2));
  EXPECT_EQ(emissions[2].target, (id + "$VORN$onPing").c_str());
  EXPECT_TRUE(emissions[2].parameters.IsEmpty());

  // Without a node (or without a manager) nothing is sent and nothing crashes.
  M::SetMBXNode(nullptr);
  EXPECT_FALSE(object->PublishRemoteEvent("onPing"));
  EXPECT_FALSE(object->_PublishRemoteEvent("onBytes", OVK::Binary("ab", 2)));
  Access::Reset();
  EXPECT_FALSE(Access::Publish("x", "onPing"));
  EXPECT_FALSE(Access::Publish("x", "onData", VornJSONValue(1)));
  EXPECT_EQ(node.Count(), 3u);
}

// A class of another family under the requested name is released, not called.
TEST_F(Communication, LibraryCallsOfOtherClassesOrMissingFunctionsAreNotAnswered) {
  ASSERT_TRUE(Vorn::GetLibrary(kFunctionsLib) && Vorn::GetLibrary(kPartialLib));
  EXPECT_FALSE(M::TryCallLibraryFunction(kFunctionsLib, "NotAFunction", replies.Recorder(), Obj("{}")));
  EXPECT_EQ(capture.Last(), "[Vorn] Class 'NotAFunction' of library '" + kFunctionsLib + "' is not a remote function");
  EXPECT_FALSE(M::TryCallLibraryFunction(kPartialLib, "Null", replies.Recorder(), Obj("{}")));
  EXPECT_EQ(capture.Last(), "[Vorn] Function 'Null' not found in library '" + kPartialLib + "'");
  EXPECT_TRUE(replies.values.empty());
}

TEST_F(Communication, NamespaceFunctionsAnswerFromTheirAddingToTheirRemoval) {
  auto echo = Vorn::MakeRemoteFunction("echo", {"v"}, [](VornJSONValue v) { return v; });
  auto zero = Vorn::MakeRemoteFunction("zero", {}, [] { return 0; });
  const auto call = [&](const char* ns) { return M::TryCallRemoteFunction(ns, "echo", replies.Recorder(), Obj(R"({"v":1})")); };
  EXPECT_FALSE(call("tools"));
  EXPECT_TRUE(M::AddNamespaceFunction("tools", "echo", echo));
  EXPECT_FALSE(M::AddNamespaceFunction("tools", "echo", zero));  // the first stays
  EXPECT_FALSE(M::AddNamespaceFunction("", "echo", zero));
  EXPECT_TRUE(call("tools"));
  EXPECT_FALSE(call(""));
  const auto listed = M::GetNamespaceFunctions();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].nameSpace + "." + listed[0].name, "tools.echo");
  EXPECT_EQ(listed[0].function.get(), echo.get());
  EXPECT_EQ(M::GetNamespaceFunction("tools", "echo").get(), echo.get());
  EXPECT_EQ(M::GetNamespaceFunction("other", "echo").get(), nullptr);
  EXPECT_TRUE(M::RemoveNamespaceFunction("tools", "echo"));
  EXPECT_FALSE(M::RemoveNamespaceFunction("tools", "echo"));
  EXPECT_FALSE(call("tools"));
  EXPECT_EQ(replies.Texts(), Strings{R"({"_func_return":1})"});
}

// Client library names, alone or with a function call, against two plug-in
// folders of copied test plug-ins: a refused name maps and caches nothing.
TEST_F(Communication, ClientLibrariesLoadOnlyDeclaredNamesFromThePluginFolders) {
  TempDir first, second;
  const std::string plain = Copy(VORN_TEST_PLUGIN_BASIC, first.Path() / "vorn_client_plain.so");
  Copy(VORN_TEST_PLUGIN_BASIC, second.Path() / "libvorn_client_plain.so");  // the first folder wins
  const std::string both = Copy(VORN_TEST_PLUGIN_BASIC, second.Path() / "libvorn_client_both.so");
  Copy(VORN_TEST_PLUGIN_BASIC, second.Path() / "vorn_client_both.so");  // "lib<name>.so" wins
  std::filesystem::create_directory(first.Path() / "libvorn_client_dir.so");  // not a regular file
  const std::string dir = Copy(VORN_TEST_PLUGIN_BASIC, second.Path() / "vorn_client_dir.so");
  const std::string file = Copy(VORN_TEST_PLUGIN_FUNCTIONS, second.Path() / "libvorn_client_functions.so");
  VornLibrariesManager::SetPluginFolders({"", first.Str(), second.Str()});
  const std::string lib = "vorn_client_functions";
  for (const std::string name : {"z", "vorn_client_plain", "vorn_client_both", "vorn_client_dir", lib.c_str()})
    VornLibrariesManager::DeclareClientLibrary(name);
  const std::string a64(64, 'a'), refused = "[Vorn - Libraries Manager] Refused client library '",
                                  head = "[Vorn - CommunicationManager] Refused function name '";
  // The library, the function called in it (none: the library asked for
  // alone), and the file loaded or the report.
  const std::tuple<std::string, std::optional<std::string>, std::string> cases[] = {
      {"libz.so.1", {}, refused + "libz.so.1': not declared by the host"},
      // On the search path.
      {"vorn_test_plugin_basic", {}, refused + "vorn_test_plugin_basic': not declared by the host"},
      {std::string(255, 'a'), {}, refused + a64 + "... (255 bytes)': not declared by the host"},
      {"z", {}, refused + "z': not found in the plug-in folders"},  // the system has it
      {"../x", {}, refused + "../x': the name holds a path separator"},
      {std::string("vorn_client_plain\0x", 19), {}, refused + "vorn_client_plain\\x00x': the name holds a NUL byte"},
      {std::string(256, 'a'), {}, refused + a64 + "... (256 bytes)': the name is longer than 255 bytes"},
      {"", {}, refused + "': the name is empty"},
      {"vorn_test_plugin_basic", "Echo", refused + "vorn_test_plugin_basic': not declared by the host"},
      {lib, "", head + "' for library '" + lib + "': the name is empty"},
      // Cut at its NUL, "Echo\0x" would find Echo.
      {lib, std::string("Echo\0x", 6), head + "Echo\\x00x' for library '" + lib + "': the name holds a NUL byte"},
      {lib, std::string(256, 'E'), head + std::string(64, 'E') + "... (256 bytes)' for library '" + lib +
                                       "': the name is longer than 255 bytes"},
      {"vorn_client_plain", {}, plain}, {"vorn_client_both", {}, both}, {"vorn_client_dir", {}, dir}};
  const auto call = [&](const std::string& library, const std::string& function) {
    return M::TryCallLibraryFunction(library, function, replies.Recorder(), Obj("{}"));
  };
  for (const auto& [name, function, loaded] : cases) {
    SCOPED_TRACE(name + " " + function.value_or("(alone)"));
    // Known: declared with a valid name, whether or not its file is there.
    const bool known = loaded.front() == '/' || loaded.ends_with("not found in the plug-in folders") || name == lib;
    EXPECT_EQ(VornLibrariesManager::IsClientLibraryKnown(name), known);
    capture.Clear();
    const auto before = Mapped();
    const auto library = function ? nullptr : VornLibrariesManager::GetClientLibrary(name);
    if (loaded.front() != '/') {
      EXPECT_FALSE(function ? call(name, *function) : library != nullptr);
      EXPECT_EQ(MappedSince(before), std::vector<std::string>{});
      EXPECT_EQ(capture.Messages(), std::vector<std::string>{loaded});
      continue;
    }
    ASSERT_NE(library, nullptr) << capture.Last();
    EXPECT_EQ(library->GetPath(), loaded);
    EXPECT_EQ(MappedSince(before), std::vector<std::string>{loaded});
    EXPECT_EQ(Vorn::GetLibrary(name), library);  // kept under the client's name
  }
  EXPECT_EQ(Access::Cached(), 0u);

  capture.Clear();
  const auto before = Mapped();
  EXPECT_TRUE(call(lib, "Echo"));
  EXPECT_EQ(MappedSince(before), std::vector<std::string>{file});
  EXPECT_EQ(Access::Cached(), 2u);  // the function and its class record
  for (int i = 0; i < 1000; ++i) EXPECT_FALSE(call(lib, "Made" + std::to_string(i)));
  EXPECT_EQ(Access::Cached(), 2u);
  EXPECT_EQ(capture.Count(), 1000u);
  EXPECT_EQ(replies.values.size(), 1u);
  // A library the host loaded itself is known to clients too, undeclared.
  ASSERT_NE(VornLibrariesManager::GetLibrary("vorn_test_plugin_basic"), nullptr);
  EXPECT_TRUE(VornLibrariesManager::IsClientLibraryKnown("vorn_test_plugin_basic"));
}

}  // namespace
