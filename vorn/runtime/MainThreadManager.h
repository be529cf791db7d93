#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>  // POLLIN, POLLOUT for Vorn::WatchFd

#include "vorn/containers/HashTable.h"
#include "vorn/core/Export.h"
#include "vorn/core/Function.h"
#include "vorn/core/SingletonSlot.h"

// One pending timeout, owned by the manager's table until it fires or is
// removed.
struct VornTimeoutData {
  std::uint32_t id = 0;
  std::int32_t delayMs = 0;
  unsigned long hostTimeoutId = 0;  // the host's id (interactive mode)
  Vorn::Function<void()> callback;
};

namespace Vorn {

// Calls `callback` once, on the main thread, after `delayMs` milliseconds (0
// or negative: at the scheduler's next pass, never on the caller's stack).
// In an interactive host the host's timer calls it on the host's thread.
// Returns the timeout's id: 1, 2, ... process-wide; 0 only when no manager
// can be had. May be called from any thread. A timeout set while no loop
// runs waits for the next loop.
VORN_API std::uint32_t SetTimeout(const Vorn::Function<void()>& callback, const std::int32_t& delayMs);
// Cancels a pending timeout. True when it was pending: its callback will
// then never run. False for ids that fired, were removed, were dropped by a
// stop, or were never issued.
VORN_API bool RemoveTimeout(const std::uint32_t& id);
// True while the timeout is pending.
VORN_API bool HasTimeout(const std::uint32_t& id);

// Watches a file descriptor from the custom main loop: `callback(revents)`
// runs on the main thread whenever `fd` is ready for `events` (POLLIN,
// POLLOUT, as poll(2)). The loop itself waits on the watched descriptors, so
// a request arriving on one costs the idle process a single thread wake-up,
// with no reader thread handing it over.
//
// - Level-triggered: the callback runs on every pass of the loop while the
//   descriptor is ready, so it reads (or writes) or unwatches each time.
//   revents may also carry POLLHUP and POLLERR, which poll reports unasked.
//   A descriptor closed while watched (POLLNVAL) is told once, then its
//   watch is removed.
// - Ready watches are served while the loop waits with nothing queued and
//   after each batch of queued callbacks, so neither starves the other. The
//   order of queued callbacks and timeouts among themselves is unchanged.
// - Any thread may watch and unwatch; the loop picks the change up at once.
//   After UnwatchFd returns on the main thread the callback never runs
//   again; from another thread, a call already under way may still finish.
//   The descriptor must stay open until it is unwatched.
// - A stop (EndCustomMainThreadLoop) drops every watch, as it drops pending
//   timeouts: callbacks are released and the ids forgotten; the owner
//   watches again in a later run. A run ended by a callback's exception
//   keeps them. A watch made while no loop runs waits for the next one.
// - A callback's exception ends the run as a queued callback's does.
// - Refused in an interactive host, whose own loop does the waiting there:
//   WatchFd logs an error and returns 0, and the caller keeps a thread of
//   its own for the descriptor (orvelnode's stdio channel does). Also 0 for
//   a negative descriptor, no events or no manager.
// Returns the watch's id: 1, 2, ... process-wide.
VORN_API std::uint32_t WatchFd(int fd, short events, const Vorn::Function<void(short)>& callback);
// Ends a watch; true when it was active.
VORN_API bool UnwatchFd(const std::uint32_t& id);

}  // namespace Vorn

// Runs callbacks on the library's main thread and serves timeouts.
//
// Custom loop mode (non-interactive host): the thread that calls
// VornMainComponent::RunCustomMainThreadLoop becomes the main thread and
// runs a queue of callbacks; a scheduler thread moves due timeout callbacks
// into that queue. Interactive mode: timeouts go to the host application's
// timer and the custom loop is refused.
//
// The idle main thread waits in poll(2) on an eventfd, which other threads
// signal when they queue work for it, on the descriptors watched with
// Vorn::WatchFd, and on a timerfd armed for the next due time.
//
// Timeouts are served in due order. An idle main thread sleeps until the
// next due time and queues the due callbacks itself, which saves a thread
// hand-off on every timeout; the scheduler then stands by and queues a due
// callback only if the main thread is still busy 2 ms past its due time (at
// once if the main thread was busy when the scheduler last looked); a
// timeout due at once that wakes the idle main thread does not wake the
// scheduler at all, so a zero-delay hand-over costs one wake-up. Either
// way a callback runs only after the main thread is free, and the only
// visible difference is where a due timeout lands among callbacks queued by
// other means at about the same moment. The loop thread's timer slack is
// lowered while the loop runs and restored when it returns.
class VORN_API VornMainThreadManager {
public:
  virtual ~VornMainThreadManager();
  VornMainThreadManager(const VornMainThreadManager&) = delete;
  VornMainThreadManager& operator=(const VornMainThreadManager&) = delete;

private:
  friend class VornMainComponent;
  friend std::uint32_t Vorn::SetTimeout(const Vorn::Function<void()>&, const std::int32_t&);
  friend bool Vorn::RemoveTimeout(const std::uint32_t&);
  friend bool Vorn::HasTimeout(const std::uint32_t&);
  friend std::uint32_t Vorn::WatchFd(int, short, const Vorn::Function<void(short)>&);
  friend bool Vorn::UnwatchFd(const std::uint32_t&);
  friend struct VornMainThreadManagerTestAccess;
  friend class Vorn::SingletonSlot<VornMainThreadManager, Vorn::SingletonThreads::Any>;

  using Callback = Vorn::Function<void()>;
  struct DueEntry {
    std::uint32_t id;
    std::int64_t dueNs;  // steady clock
  };
  // Heap order: the earliest due time at the front.
  // Equal due times keep the order the timeouts were set in.
  static bool _DueLater(const DueEntry& a, const DueEntry& b) noexcept {
    return a.dueNs != b.dueNs ? a.dueNs > b.dueNs : a.id > b.id;
  }

  struct FdWatch {
    std::uint32_t id;
    int fd;
    short events;
    Vorn::Function<void(short)> callback;
    std::atomic<bool> active{true};  // false once unwatched or dropped
  };

  VornMainThreadManager();

  // Created on first use by any thread, deleted by the main component; the
  // slot locks both (Vorn::SingletonThreads::Any).
  static VornMainThreadManager* _GetInstance();
  static void _DeleteInstance();

  // Runs the custom loop on the calling thread until _Stop. A second call
  // while a loop runs is refused with a log line and returns at once. The
  // initial callback is queued before the scheduler thread starts, so it
  // always runs first. When the loop ends, callbacks still queued are run
  // before it returns, whichever thread stopped it, so nothing queued is
  // lost; a new run after that starts cleanly.
  //
  // An exception that leaves a callback ends the run and is passed on to
  // the caller (as an io_context's run does): the scheduler thread is
  // stopped and joined and the running state reset, while pending timeouts
  // and the callbacks still queued are kept for the next run, which starts
  // normally. The loop does not swallow it: a host that wants to go on
  // catches it and runs the loop again.
  static void _RunCustomLoop(const Callback& initial);
  void _InitFromMainThread(const Callback& initial);
  bool _IsInMainThread() const;
  void _RunMainLoop();

  // Stops the loop and the scheduler thread (joined, unless called from it)
  // and drops every pending timeout: its callback is released and its id
  // forgotten, so HasTimeout and RemoveTimeout both answer false for it. In
  // interactive mode each host registration is removed first, so the host
  // never calls back with released data. Callable from any thread; on the
  // main thread it also runs the callbacks still queued.
  static void _Stop();
  // Ends the run after a callback threw, keeping timeouts and queue.
  void _EndRunAfterException();
  // Marks the run ended, wakes both threads and joins the scheduler (unless
  // called from it); the caller holds m_threadMutex.
  void _HaltRun_NoLock_();
  void _StopInstance();

  void __ExecuteAllCallbacks__(bool check);
  // Waits (main thread, without the queue lock) on the wake-up eventfd and
  // the watched descriptors until `untilNs` (kNever: no limit; 0: only
  // looks), then runs the callbacks of the ready watches.
  void _PollWatches(std::int64_t untilNs);
  // Signals the eventfd the idle main thread waits on.
  void _WakeMain();
  std::uint32_t _WatchFd(int fd, short events, const Vorn::Function<void(short)>& callback);
  bool _UnwatchFd(std::uint32_t id);
  void _DropWatches();
  void __DoSchedulerLoop__();
  // Moves the callbacks of the timeouts due at `now` into `into`, in due
  // order, forgetting their ids; returns the next due time, or kNever.
  std::int64_t _TakeDueTimeouts_NoLock_(std::int64_t now, std::deque<Callback>& into);
  // Lowers `mark` to `dueNs` when it is later; true when it was lowered.
  static bool _LowerMark(std::atomic<std::int64_t>& mark, std::int64_t dueNs) {
    std::int64_t current = mark.load();
    while (dueNs < current) {
      if (mark.compare_exchange_weak(current, dueNs)) return true;
    }
    return false;
  }
  // Drops the due entries of removed timeouts once they outnumber the
  // pending ones. Without it, timeouts set and removed long before they fall
  // due (a request timeout per request) would pile up in the heap and all be
  // discarded at once, under the lock, when their due times came round.
  void _CompactDueHeap_NoLock_();
  VornTimeoutData* _RemoveAndGetTimeoutData(std::uint32_t id);
  VornTimeoutData* _RemoveAndGetTimeoutData_NoLock_(std::uint32_t id);
  // Releases every pending timeout (host registrations first).
  void _DiscardTimeouts_NoLock_();

  std::uint32_t _SetTimeout(const Callback& callback, std::int32_t delayMs);
  bool _RemoveTimeout(std::uint32_t id);
  bool _HasTimeout(std::uint32_t id);
  // Host timer callback; the client data carries the timeout's id, so a
  // call for a timeout that was removed meanwhile finds nothing.
  static void _OnKRTInteractiveAppTimeoutCB(void* command, int reason, void* clientData);

  static Vorn::SingletonSlot<VornMainThreadManager, Vorn::SingletonThreads::Any> _Instance;

  std::mutex m_queueMutex;
  std::mutex m_timeoutMutex;
  Vorn::HashTable<std::uint32_t, VornTimeoutData*> m_timeouts;
  std::atomic<std::uint32_t> m_lastTimeoutId{0};
  std::deque<Callback> m_queue;
  std::atomic<std::thread::id> m_mainThreadId{};
  std::atomic<bool> m_running{false};
  std::thread m_schedulerThread;
  std::condition_variable m_timeoutCondition;
  std::vector<DueEntry> m_dueHeap;

  // When each thread sleeps until (steady-clock ns): kNever for no deadline,
  // kBusy while awake. A new timeout due earlier wakes the sleeper.
  static constexpr std::int64_t kNever = INT64_MAX - 1;
  static constexpr std::int64_t kBusy = INT64_MIN;
  // How long the scheduler stands by past a due time the idle main thread
  // will serve itself.
  static constexpr std::int64_t kStandByNs = 2'000'000;
  // Heaps this small are never compacted.
  static constexpr std::size_t kCompactFloor = 64;
  std::atomic<std::int64_t> m_mainWaitDueNs{kBusy};
  std::atomic<std::int64_t> m_schedulerWaitDueNs{kBusy};

  int m_wakeFd = -1;   // eventfd
  int m_timerFd = -1;  // timerfd for the next due time
  std::int64_t m_timerDueNs = kNever;  // what it is armed for (main thread only)
  std::mutex m_watchMutex;
  std::vector<std::shared_ptr<FdWatch>> m_watches;
  std::atomic<bool> m_watching{false};  // m_watches is not empty
  // Main thread only: the watches being polled and their poll set.
  std::vector<std::shared_ptr<FdWatch>> m_polled;
  std::vector<struct pollfd> m_pollFds;

  std::mutex m_threadMutex;  // starting and joining the scheduler thread
  std::atomic<bool> m_loopActive{false};
};
