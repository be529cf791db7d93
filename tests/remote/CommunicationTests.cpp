// Remote objects and the communication manager, end to end through the
// TryCall entry points, with a recording node checking every emission.
#include <gtest/gtest.h>

#include "RemoteTestSupport.h"
#include "vorn/host/SysLog.h"
#include "vorn/remote/Binding.h"
#include "vorn/remote/RemoteObject.h"

namespace {

using Access = VornCommunicationManagerTestAccess;
using vorn_test::Replies;

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
  using VornRemoteObject::_PublishRemoteEvent;

private:
  bool* m_destroyed;
};

class Communication : public ::testing::Test {
protected:
  void SetUp() override { VornCommunicationManager_V1::SetMBXNode(&node); }
  void TearDown() override { Access::Reset(); }
  bool Call(const std::string& ns, const std::string& id, const std::string& fn, const char* args = "{}") {
    return VornCommunicationManager_V1::TryCallRemoteObjectFunc(ns, id, fn, replies.Recorder(),
                                                                VornJSONObject::BuildFromString(args));
  }
  MBX::RecordingNode node;
  Replies replies;
  KRTAbendCapture capture;
};

TEST_F(Communication, RoutesCallsToRegisteredObjects) {
  auto first = TestObject::Make("obj");
  EXPECT_EQ(first->GetRefsRegistryName(), "refs");
  EXPECT_TRUE(first->MustConvertKRTObjectsToJSON());
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
    EXPECT_TRUE(VornCommunicationManager_V1::TryCallRemoteObjectFunc("ns", "obj", fn, {}, VornJSONObject()));
  ASSERT_EQ(replies.values.size(), 2u);
  EXPECT_EQ(replies.values[0].Stringify(), R"({"_func_return":[1]})");
  EXPECT_TRUE(replies.values[1].IsNull());
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
  ASSERT_EQ(replies.values.size(), 4u);
  EXPECT_EQ(replies.values[0].Stringify(), R"({"_func_return":40})");
  EXPECT_TRUE(replies.values[1].IsNull());
  EXPECT_EQ(replies.values[2].Stringify(), R"({"_func_return":40})");

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
  EXPECT_FALSE(object->_PublishRemoteEvent("", OVK::Binary("x", 1)));
  EXPECT_EQ(node.Count(), 0u);

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
  VornCommunicationManager_V1::SetMBXNode(nullptr);
  EXPECT_FALSE(object->PublishRemoteEvent("onPing"));
  EXPECT_FALSE(object->_PublishRemoteEvent("onBytes", OVK::Binary("ab", 2)));
  Access::Reset();
  EXPECT_FALSE(Access::Publish("x", "onPing"));
  EXPECT_FALSE(Access::Publish("x", "onData", VornJSONValue(1)));
  EXPECT_EQ(node.Count(), 3u);
}

TEST_F(Communication, CallsLibraryAndNamespaceFunctions) {
  using M = VornCommunicationManager_V1;
  auto live = vorn_test::PluginFunction<int (*)()>(kFunctionsLib, "VornTestLiveFunctions");
  ASSERT_NE(live, nullptr);
  const int before = live();
  const auto args = VornJSONObject::BuildFromString(R"({"a":1})");
  EXPECT_TRUE(M::TryCallLibraryFunction(kFunctionsLib, "Echo", replies.Recorder(), args));
  EXPECT_TRUE(M::TryCallLibraryFunction(kFunctionsLib, "Echo", replies.Recorder(), args));
  EXPECT_EQ(live(), before + 1);  // created once, then cached
  auto x = M::LoadLibraryFunction(kFunctionsLib, "Echo", false);
  auto y = M::LoadLibraryFunction(kFunctionsLib, "Echo", false);
  EXPECT_NE(x, y);
  EXPECT_EQ(live(), before + 3);
  EXPECT_TRUE(M::TryCallLibraryFunction(kFunctionsLib, "Divide", replies.Recorder(),
                                        VornJSONObject::BuildFromString(R"({"a":7,"b":2})")));
  EXPECT_TRUE(M::TryCallLibraryFunction(kFunctionsLib, "Divide", replies.Recorder(),
                                        VornJSONObject::BuildFromString(R"({"a":7,"b":0})")));
  EXPECT_EQ(M::LoadLibraryFunction(kFunctionsLib, "Shared", true), M::LoadLibraryFunction(kFunctionsLib, "Shared", true));
  ASSERT_EQ(replies.values.size(), 4u);
  EXPECT_EQ(static_cast<VornJSONObject&>(replies.values[0]), args);
  EXPECT_EQ(replies.values[2].Stringify(), R"({"_func_return":3})");
  EXPECT_EQ(replies.values[3].Stringify(), R"({"error":{"message":"division by zero"}})");
  EXPECT_EQ(capture.Count(), 0u);

  // A class of another family under the requested name is released, not called.
  EXPECT_FALSE(M::TryCallLibraryFunction(kFunctionsLib, "NotAFunction", replies.Recorder(), args));
  EXPECT_EQ(capture.Last(), "[Vorn] Class 'NotAFunction' of library '" + kFunctionsLib + "' is not a remote function");
  EXPECT_FALSE(M::TryCallLibraryFunction(kPartialLib, "Null", replies.Recorder(), args));
  EXPECT_EQ(capture.Last(), "[Vorn] Function 'Null' not found in library '" + kPartialLib + "'");
  EXPECT_FALSE(M::TryCallLibraryFunction("../" + kFunctionsLib, "Echo", replies.Recorder(), args));
  EXPECT_FALSE(M::TryCallLibraryFunction("", "Echo", replies.Recorder(), args));
  EXPECT_EQ(replies.values.size(), 4u);

  EXPECT_FALSE(M::TryCallRemoteFunction("tools", "echo", replies.Recorder(), args));
  EXPECT_TRUE(M::AddNamespaceFunction("tools", "echo", x));
  EXPECT_FALSE(M::AddNamespaceFunction("tools", "echo", y));
  EXPECT_TRUE(M::TryCallRemoteFunction("tools", "echo", replies.Recorder(), args));
  EXPECT_FALSE(M::TryCallRemoteFunction("", "echo", replies.Recorder(), args));
  EXPECT_EQ(replies.values.size(), 5u);
  Access::Reset();
  x.reset();
  y.reset();
  EXPECT_EQ(live(), before);
}

}  // namespace
