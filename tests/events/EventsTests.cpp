// Expired tokens, listener failures, and a random model check of
// publishes whose callbacks subscribe (once or not), unsubscribe and publish.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "vorn/events/EventsHandler.h"
#include "vorn/host/Errors.h"
#include "vorn/host/SysLog.h"

namespace {

using Strings = std::vector<std::string>;
using DataPtr = std::shared_ptr<VornEventData>;

// Not made with make_shared: its memory goes with it, so the address sanitizer sees a late use.
struct TestHandler : VornEventsHandler {
  static std::shared_ptr<TestHandler> Create() { return std::shared_ptr<TestHandler>(new TestHandler()); }
};

// An unsubscribed token leaves the handler's list at once, the first one subscribed included: the
// handler keeps no expired token (nor what its callable holds) until some later publish.
TEST(EventsTokens, AnUnsubscribedTokenLeavesTheListAtOnce) {
  auto handler = TestHandler::Create();
  auto first = handler->Subscribe("onChange", [](const DataPtr&) {});
  first->Unsubscribe();
  EXPECT_EQ(first.use_count(), 1);
  EXPECT_FALSE(handler->IsListened("onChange"));
  auto live = handler->Subscribe("onChange", [](const DataPtr&) {});
  EXPECT_TRUE(handler->IsListened("onChange"));
}

// A token of several names takes up to three distinct ones; otherwise nothing is subscribed.
TEST(EventsTokens, ATokenOfSeveralNamesTakesUpToThreeDistinctOnes) {
  auto handler = TestHandler::Create();
  const auto none = [](const DataPtr&) {};
  EXPECT_EQ(handler->SubscribeToEach({}, none), nullptr);
  EXPECT_EQ(handler->SubscribeToEach({"onA", "onB", "onA"}, none), nullptr);
  EXPECT_EQ(handler->SubscribeToEach({"onA", "onB", "onC", "onD"}, none), nullptr);
  EXPECT_FALSE(handler->IsListened("onA"));
  EXPECT_NE(handler->SubscribeToEach({"onA", "onB", "onC"}, none), nullptr);
  EXPECT_TRUE(handler->IsListened("onC"));
}

// Thousands of names overflow the bounded table of interned names: names that found no room are kept
// by their tokens, and every publish still reaches exactly the listeners of its own name.
TEST(EventsTokens, NamesPastTheInternedTableStillReachTheirOwnListeners) {
  constexpr int kCount = 3000;
  auto handler = TestHandler::Create();
  std::vector<int> heard(kCount);
  std::vector<std::shared_ptr<VornEventToken>> tokens;
  for (int i = 0; i < kCount; ++i)
    tokens.push_back(handler->Subscribe("onName" + std::to_string(i), [&heard, i](const DataPtr&) { ++heard[i]; }));
  for (int i = kCount; i-- > 0;) handler->Publish("onName" + std::to_string(i), nullptr);
  handler->Publish("onName" + std::to_string(kCount), nullptr);
  EXPECT_EQ(std::count(heard.begin(), heard.end(), 1), kCount);
}

// A listener's failure ends the publish, which returns normally: host errors go to the host, anything
// else to the log. Listeners run inside a host error scope, closed on the failure paths too.
TEST(EventsFailures, AFailingListenerEndsThePublishAndIsHandledByKind) {
  struct Case {
    const char* kind;
    std::function<void()> fail;
    Strings logged;
    const char* handled;  // the host's last handled message, if any
  };
  const Case cases[] = {
      {"host error", [] { KRTError::ThrowSmartPtr("listener failed", 7); }, {}, "listener failed"},
      {"standard", [] { throw std::out_of_range("index 12 out of range"); }, {"index 12 out of range"}, nullptr},
      {"other", [] { throw 42; }, {"UNEXPECTED ERROR!"}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    KRTAbendCapture capture;
    KRTXHContextCxx::ResetHandled();
    auto handler = TestHandler::Create();
    Strings journal;
    const std::size_t outside = TolvTkCompatCtx::Depth();
    std::size_t inside = 0;
    auto failing = handler->Subscribe("onChange", [&](const DataPtr&) {
      journal.push_back("B");
      inside = TolvTkCompatCtx::Depth();
      c.fail();
    });
    auto after = handler->Subscribe("onChange", [&](const DataPtr&) { journal.push_back("C"); });
    handler->Publish("onChange", nullptr);
    EXPECT_EQ(journal, Strings{"B"});
    EXPECT_EQ(capture.Messages(), c.logged);
    EXPECT_EQ(KRTXHContextCxx::HandledCount(), c.handled ? 1u : 0u);
    EXPECT_EQ(KRTXHContextCxx::LastHandledMessage(), c.handled ? c.handled : "");
    EXPECT_EQ(KRTXHContextCxx::PendingCount(), 0u);
    EXPECT_EQ(inside, outside + 1);
    EXPECT_EQ(TolvTkCompatCtx::Depth(), outside);
  }
}

// An owner's listener without a token (a view hearing its tweakers) hears before every token, as
// the publisher's; listeners it subscribes on a handler that had none are reached; its failure ends
// the publish like a token's.
TEST(EventsFailures, AListenerWithoutATokenHearsFirstAndItsFailureEndsThePublish) {
  struct Owner : VornEventsHandler {
    static std::shared_ptr<Owner> Create() { return std::shared_ptr<Owner>(new Owner()); }
    using VornEventsHandler::_Publish;
  };
  KRTAbendCapture capture;
  auto owner = Owner::Create();
  Strings journal;
  std::shared_ptr<VornEventToken> later;
  const std::function<void(const DataPtr&)> first = [&](const DataPtr& data) {
    journal.push_back(data->GetEventPublisher() == static_cast<VornEventsHandler*>(owner.get()) ? "first" : "?");
    if (!later) later = owner->Subscribe("onChange", [&](const DataPtr&) { journal.push_back("later"); });
  };
  owner->_Publish("onChange", nullptr, &first);
  owner->_Publish("onChange", nullptr, &first);
  EXPECT_EQ(journal, (Strings{"first", "later", "first", "later"}));
  const std::function<void(const DataPtr&)> failing = [](const DataPtr&) { throw std::runtime_error("owner failed"); };
  journal.clear();
  owner->_Publish("onChange", nullptr, &failing);
  EXPECT_TRUE(journal.empty());
  EXPECT_EQ(capture.Messages(), Strings{"owner failed"});
}

// Random model check: callbacks subscribe (to one name, or one token for several), unsubscribe
// themselves or others, check IsListened and publish again; every walk is checked against a model of
// what is live.
constexpr int kHandlers = 3;
// The last is too long to be interned: its tokens keep copies of it.
const char* const kNames[] = {"onA", "onB", "onC_a_name_past_the_length_of_the_interned_names_0123456789abcdefghij"};
constexpr int kNameCount = 3;
constexpr int kMaxDepth = 3;
constexpr int kMaxLive = 60;  // live listeners over all handlers and names

// Interned before any test runs: the table of interned names is process-wide, and the test above
// fills it. Names that share a token must be interned (as the library's own are, at load).
[[maybe_unused]] const bool kNamesInterned = [] {
  auto handler = TestHandler::Create();
  return handler->SubscribeToEach({kNames[0], kNames[1]}, [](const DataPtr&) {}) != nullptr;
}();

// Heap-allocated: read after its callable was destroyed, the address sanitizer reports it.
std::string HeapLabel(const std::string& name) { return name + std::string(40, '.'); }

struct Listener {
  int handler;
  unsigned names;  // bit n: listens to kNames[n]
  bool once;
  int running = 0;  // calls in progress
  std::string label;
  unsigned int index;
  // Without a held handle the handler's list owns the token alone: an erase mid-walk may end it.
  std::shared_ptr<VornEventToken> held;
  std::weak_ptr<VornEventToken> token;
  bool expired = false;
};

struct Walk {
  int handler, name;
  std::vector<int> calls;
};

class World {
public:
  explicit World(unsigned seed) : m_rng(seed) {
    for (int h = 0; h < kHandlers; ++h) m_handlers.push_back(TestHandler::Create());
  }

  // One top-level step: a publish, a subscription or an unsubscription.
  void Step() {
    m_budget = 12;
    Act(nullptr);
    // Outside a publish an expired token nobody holds is gone, except token 0 (see EventsTokens).
    for (const auto& l : m_listeners)
      EXPECT_TRUE(!l->expired || l->held || l->index == 0 || l->token.expired()) << l->label;
  }

  void CheckIsListenedEverywhere() {
    for (int h = 0; h < kHandlers; ++h)
      for (int n = 0; n < kNameCount; ++n) CheckIsListened(h, n);
  }

private:
  int Pick(int n) { return static_cast<int>(m_rng() % static_cast<unsigned>(n)); }

  std::vector<int>& IdsOf(int h, int n) { return m_ids[h * kNameCount + n]; }

  void CheckIsListened(int h, int n) {
    const auto& ids = IdsOf(h, n);
    const bool live = std::any_of(ids.begin(), ids.end(), [&](int id) { return !m_listeners[id]->expired; });
    EXPECT_EQ(m_handlers[h]->IsListened(kNames[n]), live) << "handler " << h << " " << kNames[n];
  }

  void Subscribe() {
    const auto live = [](const std::unique_ptr<Listener>& l) { return !l->expired; };
    if (std::count_if(m_listeners.begin(), m_listeners.end(), live) >= kMaxLive) return;
    const int id = static_cast<int>(m_listeners.size());
    auto l = std::make_unique<Listener>();
    l->handler = Pick(kHandlers);
    const int name = Pick(kNameCount);
    l->names = 1u << name;
    l->once = Pick(5) == 0;
    l->label = HeapLabel("listener " + std::to_string(id));
    auto callback = [this, id, label = l->label](const DataPtr&) { OnCall(id, label); };
    VornEventsHandler& handler = *m_handlers[l->handler];
    std::shared_ptr<VornEventToken> token;
    if (!l->once && Pick(3) == 0) {
      // Two names, or all three; the long name cannot be interned, and shares no token.
      const int other = (name + 1 + Pick(kNameCount - 1)) % kNameCount;
      l->names |= 1u << other;
      if (Pick(2) == 0) l->names = (1u << kNameCount) - 1;
      token = l->names == 7 ? handler.SubscribeToEach({kNames[0], kNames[1], kNames[2]}, callback)
                            : handler.SubscribeToEach({kNames[name], kNames[other]}, callback);
      EXPECT_EQ(token == nullptr, (l->names & 4u) != 0);
      if (!token) return;
    } else {
      token = l->once ? handler.SubscribeOnce(kNames[name], callback) : handler.Subscribe(kNames[name], callback);
    }
    l->index = token->GetIndex();
    l->token = token;
    if (Pick(3) != 0) l->held = std::move(token);
    for (int n = 0; n < kNameCount; ++n)
      if (l->names & (1u << n)) IdsOf(l->handler, n).push_back(id);
    m_listeners.push_back(std::move(l));
  }

  void Unsubscribe(Listener& l) {
    auto token = l.token.lock();
    EXPECT_TRUE(l.expired || token) << "a live token was destroyed";
    if (token) token->Unsubscribe();
    token.reset();
    if (Pick(2) == 0) l.held.reset();
    l.expired = true;
  }

  // From a callback (`self`): also unsubscribe itself, check IsListened, or publish again.
  void Act(Listener* self) {
    const int action = Pick(6);
    if (action == 0) {
      Subscribe();
    } else if (action == 1 && self) {
      Unsubscribe(*self);
    } else if (action <= 2 && !m_listeners.empty()) {
      Unsubscribe(*m_listeners[Pick(static_cast<int>(m_listeners.size()))]);
    } else if (action == 3 && self) {
      CheckIsListened(Pick(kHandlers), Pick(kNameCount));
    } else if (action >= 3 && m_stack.size() <= kMaxDepth) {
      Publish(Pick(kHandlers), Pick(kNameCount));
    }
  }

  void Publish(int h, int n) {
    m_walks.push_back(Walk{h, n, {}});
    const std::size_t walkId = m_walks.size() - 1;
    m_stack.push_back(walkId);
    // A once-token whose first call is still running is not delivered again.
    std::vector<int> onceRunning;
    for (int id : IdsOf(h, n))
      if (m_listeners[id]->once && m_listeners[id]->running > 0) onceRunning.push_back(id);
    m_handlers[h]->Publish(kNames[n], nullptr);
    m_stack.pop_back();
    // Whoever is still live, subscribed before the walk or by it, was reached exactly once.
    const std::vector<int>& calls = m_walks[walkId].calls;
    for (int id : IdsOf(h, n)) {
      if (m_listeners[id]->expired || std::count(onceRunning.begin(), onceRunning.end(), id) > 0) continue;
      EXPECT_EQ(std::count(calls.begin(), calls.end(), id), 1) << "listener " << id << " in walk " << walkId;
    }
  }

  void OnCall(int id, const std::string& label) {
    Listener& l = *m_listeners[id];
    if (m_stack.empty()) {
      ADD_FAILURE() << "listener " << id << " called outside any publish";
      return;
    }
    Walk& w = m_walks[m_stack.back()];
    EXPECT_EQ(l.handler, w.handler) << "listener " << id;
    EXPECT_TRUE(l.names & (1u << w.name)) << "listener " << id;
    EXPECT_EQ(*VornEventsHandler::CurrentEventName(), kNames[w.name]) << "listener " << id;
    EXPECT_FALSE(l.expired) << "expired listener " << id << " called";
    EXPECT_FALSE(l.once && l.running > 0) << "once listener " << id << " re-entered by a nested publish";
    EXPECT_EQ(std::count(w.calls.begin(), w.calls.end(), id), 0) << "listener " << id << " called twice by one walk";
    if (!w.calls.empty()) {
      EXPECT_LT(m_listeners[w.calls.back()]->index, l.index) << "out of subscription order";
    }
    w.calls.push_back(id);
    ++l.running;

    const int actions = m_budget > 0 ? Pick(4) : 0;
    for (int i = 0; i < actions; ++i, --m_budget) Act(&l);
    // Read what the callable owns after everything it did.
    EXPECT_EQ(label, l.label);
    --l.running;
    // A once-token ends with its first delivery.
    if (l.once) l.expired = true;
  }

  std::mt19937 m_rng;
  std::vector<std::shared_ptr<TestHandler>> m_handlers;
  std::vector<std::unique_ptr<Listener>> m_listeners;
  std::vector<int> m_ids[kHandlers * kNameCount];  // listener ids by handler and name
  std::vector<Walk> m_walks;
  std::vector<std::size_t> m_stack;
  int m_budget = 0;
};

TEST(EventsRandom, WalksCallEveryLiveListenerOnceWhateverCallbacksDo) {
  for (unsigned seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    World world(seed);
    for (int step = 0; step < 1000; ++step) {
      world.Step();
      if (::testing::Test::HasFailure()) return;
    }
    world.CheckIsListenedEverywhere();
  }
}

}  // namespace
