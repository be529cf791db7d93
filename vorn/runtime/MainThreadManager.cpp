#include "vorn/runtime/MainThreadManager.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <string>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include "vorn/core/ErrorPolicy.h"
#include "vorn/host/Application.h"
#include "vorn/runtime/Process.h"

namespace {

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Lowers the loop thread's timer slack while the loop runs: the kernel would
// otherwise defer its timed waits by 50 us by default, which would add
// straight to every timeout's lateness. The caller's setting comes back
// when the loop returns.
class SlackScope {
public:
  SlackScope() {
#if defined(__linux__)
    const int previous = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (previous > 0 && prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0) m_previous = previous;
#endif
  }
  ~SlackScope() {
#if defined(__linux__)
    if (m_previous > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(m_previous), 0UL, 0UL, 0UL);
#endif
  }
  SlackScope(const SlackScope&) = delete;
  SlackScope& operator=(const SlackScope&) = delete;

private:
  int m_previous = 0;
};

// Ids are process-wide: they keep increasing across manager instances.
std::atomic<std::uint32_t> g_lastTimeoutId{0};
std::atomic<std::uint32_t> g_lastWatchId{0};

void* IdAsClientData(std::uint32_t id) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(id)); }
std::uint32_t IdFromClientData(void* data) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(data));
}

}  // namespace

constinit Vorn::SingletonSlot<VornMainThreadManager, Vorn::SingletonThreads::Any> VornMainThreadManager::_Instance;

VornMainThreadManager* VornMainThreadManager::_GetInstance() { return _Instance.Get(); }

void VornMainThreadManager::_DeleteInstance() { _Instance.Delete(); }

VornMainThreadManager::VornMainThreadManager()
    : m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_timerFd(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)) {
  // Without it the loop still works: it then looks every millisecond.
  if (m_wakeFd < 0) Vorn::LogError("[Vorn - Main Thread Manager] no eventfd: the main loop will poll");
}

VornMainThreadManager::~VornMainThreadManager() {
  _StopInstance();
  {
    std::lock_guard lock(m_timeoutMutex);
    _DiscardTimeouts_NoLock_();
  }
  if (m_wakeFd >= 0) close(m_wakeFd);
  if (m_timerFd >= 0) close(m_timerFd);
}

// --- main loop ---------------------------------------------------------------------

void VornMainThreadManager::_RunCustomLoop(const Callback& initial) {
  if (Vorn::IsKRTInteractiveApplication()) {
    Vorn::LogError("VornMainComponent::BeginCustomApp() cannot be called from a KRTInteractiveApplication context!");
    return;
  }
  VornMainThreadManager* manager = _GetInstance();
  if (!manager) return;
  if (manager->m_loopActive.exchange(true)) {
    Vorn::LogError("VornMainComponent::RunCustomMainThreadLoop() refused: a custom main thread loop is already running!");
    return;
  }
  struct LoopEnd {
    VornMainThreadManager* manager;
    ~LoopEnd() { manager->m_loopActive.store(false); }
  } loopEnd{manager};
  manager->_InitFromMainThread(initial);
  manager->_RunMainLoop();
}

void VornMainThreadManager::_InitFromMainThread(const Callback& initial) {
  std::lock_guard threadLock(m_threadMutex);
  // A scheduler thread left by a stop that could not join it (a stop from
  // the scheduler thread itself) is joined before a new one starts.
  if (m_schedulerThread.joinable()) m_schedulerThread.join();
  {
    std::lock_guard queueLock(m_queueMutex);
    std::lock_guard timeoutLock(m_timeoutMutex);
    m_mainThreadId.store(std::this_thread::get_id());
    m_running.store(true);
    // Queued before the scheduler exists, so no due timeout can overtake it.
    if (initial) m_queue.push_front(initial);
  }
  m_schedulerThread = std::thread([this] { __DoSchedulerLoop__(); });
}

bool VornMainThreadManager::_IsInMainThread() const {
  if (!m_running.load())
    Vorn::RaiseError("[Vorn - Main Thread Manager] _IsInMainThread called but Manager has not been initialized!");
  return std::this_thread::get_id() == m_mainThreadId.load();
}

void VornMainThreadManager::_RunMainLoop() {
  if (!_IsInMainThread()) {
    Vorn::RaiseError("[Vorn - Main Thread Manager] _RunMainLoop must be called from the main thread!");
    return;
  }
  SlackScope slack;
  std::unique_lock lock(m_queueMutex);
  for (;;) {
    if (!m_running.load()) break;
    if (m_queue.empty()) {
      // Idle: take the due timeouts straight into the queue and sleep until
      // the next one falls due, so a timeout costs one wake-up rather than
      // a scheduler wake-up and then ours.
      std::int64_t nextDue;
      {
        std::lock_guard timeoutLock(m_timeoutMutex);
        nextDue = _TakeDueTimeouts_NoLock_(NowNs(), m_queue);
        m_mainWaitDueNs.store(nextDue);
      }
      if (m_queue.empty()) {
        // Whatever wakes us signals the eventfd, which stays signalled, so
        // a wake-up between here and the poll is not lost. Every return
        // goes back to the top, which looks again.
        lock.unlock();
        _PollWatches(nextDue);
        lock.lock();
      }
      m_mainWaitDueNs.store(kBusy);
      continue;
    }
    // A batch: what is queued now. Watched descriptors are looked at
    // between batches, so a queue that keeps refilling cannot starve them.
    for (std::size_t batch = m_queue.size(); batch > 0 && !m_queue.empty(); --batch) {
      Callback callback = std::move(m_queue.front());
      m_queue.pop_front();
      lock.unlock();
      try {
        callback();
      } catch (...) {
        callback = nullptr;
        _EndRunAfterException();
        throw;
      }
      callback = nullptr;  // released outside the lock, like the call
      lock.lock();
    }
    if (m_watching.load() && m_running.load()) {
      lock.unlock();
      _PollWatches(0);
      lock.lock();
    }
  }
  lock.unlock();
  // A stop from another thread may still be dropping timeouts: the loop
  // returns only once it is done.
  { std::lock_guard threadLock(m_threadMutex); }
  // Whatever was queued when the stop came (possibly from another thread)
  // still runs here, on the main thread.
  __ExecuteAllCallbacks__(false);
}

void VornMainThreadManager::_HaltRun_NoLock_() {
  {
    std::lock_guard queueLock(m_queueMutex);
    std::lock_guard timeoutLock(m_timeoutMutex);
    m_running.store(false);
  }
  _WakeMain();
  m_timeoutCondition.notify_all();
  if (m_schedulerThread.joinable() && m_schedulerThread.get_id() != std::this_thread::get_id())
    m_schedulerThread.join();
}

void VornMainThreadManager::_EndRunAfterException() {
  std::lock_guard threadLock(m_threadMutex);
  _HaltRun_NoLock_();  // pending timeouts and the rest of the queue stay for the next run
}

void VornMainThreadManager::__ExecuteAllCallbacks__(bool check) {
  if (check && std::this_thread::get_id() != m_mainThreadId.load()) {
    Vorn::RaiseError("[Vorn - Main Thread Manager] __ExecuteAllCallbacks__ must be called from the main thread!");
    return;
  }
  std::unique_lock lock(m_queueMutex);
  while (!m_queue.empty()) {
    Callback callback = std::move(m_queue.front());
    m_queue.pop_front();
    lock.unlock();
    callback();
    callback = nullptr;
    lock.lock();
  }
}

// --- scheduler -------------------------------------------------------------------------

void VornMainThreadManager::__DoSchedulerLoop__() {
#if defined(__linux__)
  // The kernel may otherwise defer this thread's timed waits by its default
  // 50 us of timer slack, which would add straight to every timeout's lateness.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
  std::unique_lock lock(m_timeoutMutex, std::defer_lock);
  for (;;) {
    // Due timeouts go straight into the queue with both locks held (queue
    // first, as everywhere): handed over through a local list, they could
    // be overtaken by later ones the idle main thread takes meanwhile.
    std::int64_t nextDue;
    bool queued;
    {
      std::lock_guard queueLock(m_queueMutex);
      lock.lock();
      if (!m_running.load()) break;
      const std::size_t before = m_queue.size();
      nextDue = _TakeDueTimeouts_NoLock_(NowNs(), m_queue);
      queued = m_queue.size() != before;
    }
    if (queued) {
      // The main thread waits only with its mark set (under this lock).
      const bool idle = m_mainWaitDueNs.load() != kBusy;
      lock.unlock();
      if (idle) _WakeMain();
      continue;
    }
    // While the main thread sleeps until that same due time it takes the
    // timeout itself; this thread then only stands by, in case a callback
    // keeps the main thread busy past it.
    std::int64_t wakeNs = nextDue;
    const std::int64_t mainWait = m_mainWaitDueNs.load();
    if (nextDue != kNever && mainWait != kBusy && mainWait <= nextDue) wakeNs = nextDue + kStandByNs;
    m_schedulerWaitDueNs.store(wakeNs);
    // Ends early when a timeout due sooner arrives: hosts bring work to the
    // main thread with zero-delay timeouts and must not wait behind a long
    // one.
    const auto wakeUp = [&] {
      return !m_running.load() || m_schedulerWaitDueNs.load() < wakeNs || (wakeNs != kNever && NowNs() >= wakeNs);
    };
    if (wakeNs == kNever)
      m_timeoutCondition.wait(lock, wakeUp);
    else
      m_timeoutCondition.wait_until(lock, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(wakeNs)),
                                    wakeUp);
    m_schedulerWaitDueNs.store(kBusy);
    lock.unlock();
  }
}

std::int64_t VornMainThreadManager::_TakeDueTimeouts_NoLock_(std::int64_t now, std::deque<Callback>& into) {
  while (!m_dueHeap.empty()) {
    const DueEntry front = m_dueHeap.front();
    const bool pending = m_timeouts.contains(front.id);
    if (pending && front.dueNs > now) return front.dueNs;
    std::pop_heap(m_dueHeap.begin(), m_dueHeap.end(), &_DueLater);
    m_dueHeap.pop_back();
    if (!pending) continue;  // removed meanwhile
    VornTimeoutData* data = _RemoveAndGetTimeoutData_NoLock_(front.id);
    into.push_back(std::move(data->callback));
    delete data;
  }
  return kNever;
}

// --- timeouts ----------------------------------------------------------------------------

void VornMainThreadManager::_CompactDueHeap_NoLock_() {
  // A removed timeout leaves its due entry behind; rebuilding once stale
  // entries outnumber pending ones keeps the heap within twice the pending
  // count, at a constant amortised cost per removal.
  if (m_dueHeap.size() <= kCompactFloor || m_dueHeap.size() <= 2 * m_timeouts.size()) return;
  std::erase_if(m_dueHeap, [this](const DueEntry& entry) { return !m_timeouts.contains(entry.id); });
  std::make_heap(m_dueHeap.begin(), m_dueHeap.end(), &_DueLater);
}

VornTimeoutData* VornMainThreadManager::_RemoveAndGetTimeoutData(std::uint32_t id) {
  std::lock_guard lock(m_timeoutMutex);
  return _RemoveAndGetTimeoutData_NoLock_(id);
}

VornTimeoutData* VornMainThreadManager::_RemoveAndGetTimeoutData_NoLock_(std::uint32_t id) {
  auto it = m_timeouts.find(id);
  if (it == m_timeouts.end()) return nullptr;
  VornTimeoutData* data = it->second;
  m_timeouts.erase(it);
  return data;
}

std::uint32_t VornMainThreadManager::_SetTimeout(const Callback& callback, std::int32_t delayMs) {
  const std::uint32_t id = g_lastTimeoutId.fetch_add(1) + 1;
  auto* data = new VornTimeoutData{id, delayMs, 0, callback};
  const bool interactive = Vorn::IsKRTInteractiveApplication();
  bool wakeScheduler = false;
  bool wakeMain = false;
  {
    std::lock_guard lock(m_timeoutMutex);
    auto [it, inserted] = m_timeouts.try_emplace(id, data);
    if (!inserted) {  // the table could not grow (reported)
      delete data;
      return 0;
    }
    if (!interactive) {
      const std::int64_t dueNs = NowNs() + static_cast<std::int64_t>(delayMs) * 1000000;
      m_dueHeap.push_back({id, dueNs});
      std::push_heap(m_dueHeap.begin(), m_dueHeap.end(), &_DueLater);
      if (m_running.load()) {
        // Only a sleeper that would wake after this due time needs waking;
        // lowering its mark makes its wait predicate true. A timeout due at
        // once that wakes the idle main thread is taken by it straight
        // away: the scheduler, which would only stand by, is left asleep.
        wakeMain = _LowerMark(m_mainWaitDueNs, dueNs);
        if (!(wakeMain && delayMs <= 0)) wakeScheduler = _LowerMark(m_schedulerWaitDueNs, dueNs);
      }
    }
  }
  if (interactive) {
    if (KRTApplication* app = KRTApplication::MainApplication()) {
      const unsigned long delay = delayMs < 0 ? 0ul : static_cast<unsigned long>(delayMs);
      unsigned long hostId = 0;
      // Registered outside the lock: the host may call back at once from
      // its own thread. The host id is stored only if the timeout is still
      // pending; otherwise the registration is withdrawn again.
      if (app->AddTimeOut(delay, nullptr, IdAsClientData(id), &_OnKRTInteractiveAppTimeoutCB, &hostId) >= 0) {
        bool stillPending = false;
        {
          std::lock_guard lock(m_timeoutMutex);
          auto it = m_timeouts.find(id);
          if (it != m_timeouts.end() && it->second) {
            it->second->hostTimeoutId = hostId;
            stillPending = true;
          }
        }
        if (!stillPending) app->RemoveTimeOut(delay, hostId, 0);
      }
    }
  } else {
    if (wakeScheduler) m_timeoutCondition.notify_all();
    // The eventfd stays signalled until the main thread looks: it cannot
    // fall between the main thread's reading its due time and its wait.
    if (wakeMain) _WakeMain();
  }
  return id;
}

bool VornMainThreadManager::_RemoveTimeout(std::uint32_t id) {
  try {
    VornTimeoutData* data = nullptr;
    {
      std::lock_guard lock(m_timeoutMutex);
      data = _RemoveAndGetTimeoutData_NoLock_(id);
      if (data) _CompactDueHeap_NoLock_();
    }
    if (!data) return false;
    if (Vorn::IsKRTInteractiveApplication()) {
      if (KRTApplication* app = KRTApplication::MainApplication())
        app->RemoveTimeOut(data->delayMs < 0 ? 0ul : static_cast<unsigned long>(data->delayMs), data->hostTimeoutId,
                           0);
    }
    delete data;
    return true;
  } catch (const std::exception& error) {
    Vorn::RaiseError(error.what());
  } catch (...) {
    Vorn::RaiseError("UNEXPECTED ERROR DURING TIMEOUT REMOVAL!");
  }
  return false;
}

bool VornMainThreadManager::_HasTimeout(std::uint32_t id) {
  std::lock_guard lock(m_timeoutMutex);
  return m_timeouts.contains(id);
}

void VornMainThreadManager::_OnKRTInteractiveAppTimeoutCB(void*, int, void* clientData) {
  VornMainThreadManager* manager = _GetInstance();
  if (!manager || !clientData) return;
  try {
    VornTimeoutData* data = manager->_RemoveAndGetTimeoutData(IdFromClientData(clientData));
    if (!data) return;  // removed or dropped meanwhile
    Callback callback = std::move(data->callback);
    delete data;
    if (callback) callback();
  } catch (const std::exception& error) {
    Vorn::RaiseError(std::string("[Vorn - Main Thread Manager] _OnKRTInteractiveAppTimeoutCB exception: ") +
                     error.what());
  } catch (...) {
    Vorn::RaiseError("[Vorn - Main Thread Manager] _OnKRTInteractiveAppTimeoutCB unknown exception!");
  }
}

void VornMainThreadManager::_DiscardTimeouts_NoLock_() {
  KRTApplication* app = Vorn::IsKRTInteractiveApplication() ? KRTApplication::MainApplication() : nullptr;
  for (auto& [id, data] : m_timeouts) {
    if (!data) continue;
    if (app) app->RemoveTimeOut(data->delayMs < 0 ? 0ul : static_cast<unsigned long>(data->delayMs),
                                data->hostTimeoutId, 0);
    delete data;
  }
  m_timeouts.clear();
  m_dueHeap.clear();
}

// --- watched descriptors -----------------------------------------------------------------

void VornMainThreadManager::_WakeMain() {
  if (m_wakeFd < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(m_wakeFd, &one, sizeof one);  // only fails when already signalled
}

void VornMainThreadManager::_PollWatches(std::int64_t untilNs) {
  {
    std::lock_guard lock(m_watchMutex);
    m_polled = m_watches;  // the set's memory is kept from pass to pass
  }
  if (m_wakeFd < 0 && untilNs == kNever) untilNs = NowNs() + 1'000'000;
  timespec timeout{0, 0};
  const timespec* limit = nullptr;
  bool timer = false;
  if (untilNs != kNever) {
    const std::int64_t left = untilNs - NowNs();
    // poll(2) stretches its own timeout by 0.1% (50 us on 50 ms) whatever
    // the thread's timer slack; a timerfd armed for the due time keeps the
    // lowered slack. Armed again only when the due time changes.
    timer = left > 0 && m_timerFd >= 0;
    if (timer && m_timerDueNs != untilNs) {
      const itimerspec due{{0, 0},
                           {static_cast<time_t>(untilNs / 1'000'000'000), static_cast<long>(untilNs % 1'000'000'000)}};
      timer = timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &due, nullptr) == 0;
      m_timerDueNs = timer ? untilNs : kNever;
    }
    if (!timer) {
      timeout = {static_cast<time_t>(std::max<std::int64_t>(0, left) / 1'000'000'000),
                 static_cast<long>(std::max<std::int64_t>(0, left) % 1'000'000'000)};
      limit = &timeout;
    }
  }
  m_pollFds.clear();
  m_pollFds.push_back({m_wakeFd, POLLIN, 0});
  m_pollFds.push_back({timer ? m_timerFd : -1, POLLIN, 0});
  for (const auto& watch : m_polled) m_pollFds.push_back({watch->fd, watch->events, 0});
  const int ready = ppoll(m_pollFds.data(), m_pollFds.size(), limit, nullptr);
  m_mainWaitDueNs.store(kBusy);  // awake: a due timeout is the scheduler's again
  std::uint64_t count;
  if (ready > 0 && m_pollFds[0].revents) {
    [[maybe_unused]] const ssize_t n = read(m_wakeFd, &count, sizeof count);
  }
  if (ready > 0 && m_pollFds[1].revents) {
    [[maybe_unused]] const ssize_t n = read(m_timerFd, &count, sizeof count);
    m_timerDueNs = kNever;  // expired: the same due time must arm it again
  }
  // Timed out or interrupted: nothing is ready, and the loop looks again.
  for (std::size_t i = 0; ready > 0 && i < m_polled.size() && m_running.load(); ++i) {
    const short revents = m_pollFds[i + 2].revents;
    FdWatch& watch = *m_polled[i];
    if (!revents || !watch.active.load()) continue;  // unwatched meanwhile
    try {
      watch.callback(revents);
    } catch (...) {
      m_polled.clear();
      _EndRunAfterException();
      throw;
    }
    if (revents & POLLNVAL) _UnwatchFd(watch.id);
  }
  m_polled.clear();  // callbacks of watches ended meanwhile are released here
}

std::uint32_t VornMainThreadManager::_WatchFd(int fd, short events, const Vorn::Function<void(short)>& callback) {
  if (Vorn::IsKRTInteractiveApplication()) {
    Vorn::LogError("[Vorn - Main Thread Manager] WatchFd refused: an interactive host's loop does the waiting");
    return 0;
  }
  if (fd < 0 || events == 0 || !callback) return 0;
  auto watch = std::make_shared<FdWatch>();
  watch->id = g_lastWatchId.fetch_add(1) + 1;
  watch->fd = fd;
  watch->events = events;
  watch->callback = callback;
  {
    std::lock_guard lock(m_watchMutex);
    m_watches.push_back(watch);
    m_watching.store(true);
  }
  // The main thread may be waiting on a set without this descriptor.
  if (std::this_thread::get_id() != m_mainThreadId.load()) _WakeMain();
  return watch->id;
}

bool VornMainThreadManager::_UnwatchFd(std::uint32_t id) {
  std::shared_ptr<FdWatch> removed;  // released outside the lock
  {
    std::lock_guard lock(m_watchMutex);
    const auto it = std::find_if(m_watches.begin(), m_watches.end(), [id](const auto& w) { return w->id == id; });
    if (it == m_watches.end()) return false;
    removed = std::move(*it);
    m_watches.erase(it);
    m_watching.store(!m_watches.empty());
  }
  removed->active.store(false);
  if (std::this_thread::get_id() != m_mainThreadId.load()) _WakeMain();
  return true;
}

void VornMainThreadManager::_DropWatches() {
  std::vector<std::shared_ptr<FdWatch>> dropped;
  {
    std::lock_guard lock(m_watchMutex);
    dropped.swap(m_watches);
    m_watching.store(false);
  }
  for (const auto& watch : dropped) watch->active.store(false);
}

// --- stop ---------------------------------------------------------------------------------

void VornMainThreadManager::_Stop() {
  if (VornMainThreadManager* manager = _GetInstance()) manager->_StopInstance();
}

void VornMainThreadManager::_StopInstance() {
  {
    // Held for the whole stop, so a new run cannot start (or have its
    // scheduler joined, or its timeouts dropped) while an old stop is
    // still under way on another thread.
    std::lock_guard threadLock(m_threadMutex);
    _HaltRun_NoLock_();
    std::lock_guard timeoutLock(m_timeoutMutex);
    _DiscardTimeouts_NoLock_();
  }
  _DropWatches();
  // Outside the lock: these callbacks may stop again.
  if (std::this_thread::get_id() == m_mainThreadId.load()) __ExecuteAllCallbacks__(false);
}

// --- free functions ---------------------------------------------------------------------------

namespace Vorn {

std::uint32_t SetTimeout(const Vorn::Function<void()>& callback, const std::int32_t& delayMs) {
  VornMainThreadManager* manager = VornMainThreadManager::_GetInstance();
  return manager ? manager->_SetTimeout(callback, delayMs) : 0;
}

bool RemoveTimeout(const std::uint32_t& id) {
  VornMainThreadManager* manager = VornMainThreadManager::_GetInstance();
  return manager && manager->_RemoveTimeout(id);
}

bool HasTimeout(const std::uint32_t& id) {
  VornMainThreadManager* manager = VornMainThreadManager::_GetInstance();
  return manager && manager->_HasTimeout(id);
}

std::uint32_t WatchFd(int fd, short events, const Vorn::Function<void(short)>& callback) {
  VornMainThreadManager* manager = VornMainThreadManager::_GetInstance();
  return manager ? manager->_WatchFd(fd, events, callback) : 0;
}

bool UnwatchFd(const std::uint32_t& id) {
  VornMainThreadManager* manager = VornMainThreadManager::_GetInstance();
  return manager && manager->_UnwatchFd(id);
}

}  // namespace Vorn
