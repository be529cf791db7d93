// Many handlers and listeners whose callbacks subscribe, unsubscribe
// themselves or others, check IsListened and publish again, at random. A model
// of what is live is kept beside the handlers and every walk is checked
// against it.

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "events/EventsTestSupport.h"
#include "vorn/events/EventsHandler.h"

namespace {

using vorn_test::TestHandler;
using DataPtr = std::shared_ptr<VornEventData>;

constexpr std::int64_t kNever = INT64_MAX;
constexpr int kHandlers = 3;
const char* const kNames[] = {"onA", "onB", "onC"};
constexpr int kNameCount = 3;
constexpr int kMaxDepth = 3;
constexpr int kMaxLive = 60;  // live listeners over all handlers and names

struct Listener {
  int handler;
  int name;
  bool once;
  int running = 0;  // calls in progress
  std::string label;
  unsigned int index;
  // Some subscribers keep no handle: the handler's list is the token's only
  // owner, so erasing it during a walk may end it there and then.
  std::shared_ptr<VornEventToken> held;
  std::weak_ptr<VornEventToken> token;
  std::int64_t subscribedAt;
  std::int64_t expiredAt = kNever;
};

struct Walk {
  int handler;
  int name;
  std::int64_t start;
  std::vector<int> calls;
};

struct Counters {
  long calls = 0, subscribes = 0, selfUnsubscribes = 0, otherUnsubscribes = 0, nested = 0, listenedChecks = 0;
};

class World {
public:
  World(unsigned seed, Counters& counters) : m_rng(seed), m_counters(counters) {
    for (int h = 0; h < kHandlers; ++h) m_handlers.push_back(TestHandler::Create());
  }

  // One top-level step: a publish, a subscription or an unsubscription.
  void Step() {
    m_budget = 12;
    switch (Pick(6)) {
      case 0:
        Subscribe();
        break;
      case 1:
        UnsubscribeRandom();
        break;
      default:
        Publish(Pick(kHandlers), Pick(kNameCount));
        break;
    }
    // With no publish in progress, an expired token nobody holds is gone
    // (except the first token of a handler, which may wait for the next walk
    // of its list).
    for (const auto& l : m_listeners) {
      if (l->expiredAt != kNever && !l->held && l->index != 0) {
        EXPECT_TRUE(l->token.expired()) << l->label;
      }
    }
  }

  void CheckIsListenedEverywhere() {
    for (int h = 0; h < kHandlers; ++h)
      for (int n = 0; n < kNameCount; ++n) CheckIsListened(h, n);
  }

private:
  int Pick(int n) { return static_cast<int>(m_rng() % static_cast<unsigned>(n)); }

  std::vector<int>& IdsOf(int h, int n) { return m_ids[h * kNameCount + n]; }

  bool ModelListened(int h, int n) {
    for (int id : IdsOf(h, n))
      if (m_listeners[id]->expiredAt == kNever) return true;
    return false;
  }

  void CheckIsListened(int h, int n) {
    ++m_counters.listenedChecks;
    EXPECT_EQ(m_handlers[h]->IsListened(kNames[n]), ModelListened(h, n)) << "handler " << h << " " << kNames[n];
  }

  void Subscribe() {
    if (m_live >= kMaxLive) return;
    ++m_counters.subscribes;
    ++m_live;
    const int id = static_cast<int>(m_listeners.size());
    auto l = std::make_unique<Listener>();
    l->handler = Pick(kHandlers);
    l->name = Pick(kNameCount);
    l->once = Pick(5) == 0;
    l->label = vorn_test::HeapLabel("listener " + std::to_string(id));
    l->subscribedAt = ++m_clock;
    auto callback = [this, id, label = l->label](const DataPtr&) { OnCall(id, label); };
    VornEventsHandler& handler = *m_handlers[l->handler];
    auto token = l->once ? handler.SubscribeOnce(kNames[l->name], callback) : handler.Subscribe(kNames[l->name], callback);
    l->index = token->GetIndex();
    l->token = token;
    if (Pick(3) != 0) l->held = std::move(token);
    IdsOf(l->handler, l->name).push_back(id);
    m_listeners.push_back(std::move(l));
  }

  void Expire(Listener& l) {
    if (l.expiredAt != kNever) return;
    l.expiredAt = ++m_clock;
    --m_live;
  }

  void Unsubscribe(Listener& l) {
    auto token = l.token.lock();
    if (l.expiredAt == kNever) {
      EXPECT_NE(token, nullptr) << "a live token was destroyed";
    }
    if (token) token->Unsubscribe();
    token.reset();
    if (Pick(2) == 0) l.held.reset();
    Expire(l);
  }

  void UnsubscribeRandom() {
    if (m_listeners.empty()) return;
    ++m_counters.otherUnsubscribes;
    Unsubscribe(*m_listeners[Pick(static_cast<int>(m_listeners.size()))]);
  }

  void Publish(int h, int n) {
    m_walks.push_back(Walk{h, n, ++m_clock, {}});
    const std::size_t walkId = m_walks.size() - 1;
    m_stack.push_back(walkId);
    // A once-token whose first call is still running is not delivered again.
    std::vector<int> onceRunning;
    for (int id : IdsOf(h, n))
      if (m_listeners[id]->once && m_listeners[id]->running > 0) onceRunning.push_back(id);
    m_handlers[h]->Publish(kNames[n], nullptr);
    m_stack.pop_back();
    const std::int64_t end = ++m_clock;
    // Whoever was subscribed before the walk ended and is still live was
    // reached by it exactly once.
    const Walk& w = m_walks[walkId];
    for (int id : IdsOf(h, n)) {
      const Listener& l = *m_listeners[id];
      if (l.subscribedAt > end || l.expiredAt != kNever) continue;
      if (std::find(onceRunning.begin(), onceRunning.end(), id) != onceRunning.end()) continue;
      int seen = 0;
      for (int c : w.calls) seen += c == id;
      EXPECT_EQ(seen, 1) << "listener " << id << " in walk " << walkId;
    }
  }

  void OnCall(int id, const std::string& label) {
    ++m_counters.calls;
    ++m_clock;
    Listener& l = *m_listeners[id];
    if (m_stack.empty()) {
      ADD_FAILURE() << "listener " << id << " called outside any publish";
      return;
    }
    Walk& w = m_walks[m_stack.back()];
    EXPECT_EQ(l.handler, w.handler) << "listener " << id;
    EXPECT_EQ(l.name, w.name) << "listener " << id;
    EXPECT_EQ(l.expiredAt, kNever) << "expired listener " << id << " called";
    for (int c : w.calls) {
      EXPECT_NE(c, id) << "listener " << id << " called twice by one walk";
    }
    if (!w.calls.empty()) {  // in subscription order
      EXPECT_LT(m_listeners[w.calls.back()]->index, l.index);
    }
    w.calls.push_back(id);
    ++l.running;

    const int actions = m_budget > 0 ? Pick(4) : 0;
    for (int i = 0; i < actions; ++i) {
      --m_budget;
      switch (Pick(6)) {
        case 0:
          Subscribe();
          break;
        case 1:
          ++m_counters.selfUnsubscribes;
          Unsubscribe(l);
          break;
        case 2:
          UnsubscribeRandom();
          break;
        case 3:
          CheckIsListened(Pick(kHandlers), Pick(kNameCount));
          break;
        default:
          if (m_stack.size() <= kMaxDepth) {
            ++m_counters.nested;
            Publish(Pick(kHandlers), Pick(kNameCount));
          }
          break;
      }
    }
    // Read what the callable owns after everything it did.
    EXPECT_EQ(label, l.label);
    --l.running;
    // A once-token ends with its first delivery.
    if (l.once) Expire(l);
  }

  std::mt19937 m_rng;
  Counters& m_counters;
  std::vector<std::shared_ptr<TestHandler>> m_handlers;
  std::vector<std::unique_ptr<Listener>> m_listeners;
  std::vector<int> m_ids[kHandlers * kNameCount];  // listener ids by handler and name
  int m_live = 0;
  std::vector<Walk> m_walks;
  std::vector<std::size_t> m_stack;
  std::int64_t m_clock = 0;
  int m_budget = 0;
};

TEST(EventsRandom, WalksCallEveryLiveListenerOnceWhateverCallbacksDo) {
  Counters counters;
  for (unsigned seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    World world(seed, counters);
    for (int step = 0; step < 1000; ++step) {
      world.Step();
      if (::testing::Test::HasFailure()) return;
    }
    world.CheckIsListenedEverywhere();
  }
  // The run exercised every kind of action.
  EXPECT_GT(counters.calls, 30000);
  EXPECT_GT(counters.nested, 5000);
  EXPECT_GT(counters.selfUnsubscribes, 2000);
  EXPECT_GT(counters.otherUnsubscribes, 2000);
  EXPECT_GT(counters.subscribes, 2000);
  std::printf("calls %ld, nested publishes %ld, self-unsubscribes %ld, other unsubscribes %ld, subscriptions %ld, "
              "IsListened checks %ld\n",
              counters.calls, counters.nested, counters.selfUnsubscribes, counters.otherUnsubscribes,
              counters.subscribes, counters.listenedChecks);
}

}  // namespace
