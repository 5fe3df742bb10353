#pragma once

// Run-to-completion posting for one state machine.
//
// The engine dispatches in place and refuses to be called from its own actions. Yet actions
// reach code that raises events: an entry action runs periodic work that posts, or waits for a
// reply from another plugin while the host runs other handlers of ours that post. EventQueue
// is the one door for all of them. It owns the lock that serialises the machine, and a post made
// on the thread that is already dispatching is queued instead of waiting for that lock (which
// would deadlock) or dispatching in place (which would cut the outer transition in half). The
// queued events run, in the order they were posted, as soon as the outer dispatch has finished
// and before the outermost call returns.
//
//   Nalo::Hsm::EventQueue<Player, std::string> events(machine);
//   events.Start();
//   events.Post("PLAY");  // Handled or Ignored; Queued when called from inside a dispatch
//
// Guarantees:
//  1. Run to completion: an event is dispatched only after the previous one's exits, action,
//     entries and initial transitions have all run.
//  2. No self-deadlock: Post on the dispatching thread never blocks; it queues and returns
//     PostOutcome::Queued.
//  3. Nothing is lost: every queued event is dispatched before the outermost Post, Start or Stop
//     returns, first in first out. Events posted by a queued event go to the back of the queue.
//  4. Other threads wait: a Post, Start or Stop from another thread blocks until the running one,
//     queued events included, has finished.
//  5. If an action throws, the exception leaves the outermost call (the machine's own rule
//     decides where it stops). Events still queued stay queued, in order, and run first during
//     the next Post, Start or Stop.
// A chart whose actions keep posting forever keeps the outermost call busy forever.

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "hsm/StateMachine.h"

namespace Nalo::Hsm {

// What became of a posted event.
enum class PostOutcome {
  Handled,  // dispatched now, and a row was carried out
  Ignored,  // dispatched now, and no row was carried out (the machine reported why)
  Queued,   // posted during a dispatch; it runs when that dispatch has finished
};

template <typename Owner, typename Event>
class EventQueue {
 public:
  using Machine = StateMachine<Owner, Event>;

  // `machine` must outlive the queue, and from now on be driven only through it.
  explicit EventQueue(Machine& machine) noexcept : mMachine(machine) {}

  EventQueue(const EventQueue&) = delete;
  EventQueue(EventQueue&&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;
  EventQueue& operator=(EventQueue&&) = delete;
  ~EventQueue() = default;

  // Dispatches `event`, then every event queued meanwhile, and returns whether `event` itself
  // was handled. From inside a dispatch on this thread, queues `event` and returns Queued: the
  // outcome of a queued event is not reported back (its diagnostics still reach the trace hook).
  PostOutcome Post(Event event) {
    if (IsDispatchingThread()) {
      mPending.push_back(std::move(event));
      return PostOutcome::Queued;
    }
    const bool handled = RunToCompletion([&] { return mMachine.ProcessEvent(event); });
    return handled ? PostOutcome::Handled : PostOutcome::Ignored;
  }

  // Starts the machine (see StateMachine::Start), then runs the events its actions posted.
  // Aborts when called from inside a dispatch.
  void Start() {
    detail::Invariant(!IsDispatchingThread(), kNotFromInsideDispatch);
    RunToCompletion([&] {
      mMachine.Start();
      return true;
    });
  }

  // Stops the machine (see StateMachine::Stop), then runs the events its exit actions posted;
  // a stopped machine reports them as not handled. Aborts when called from inside a dispatch.
  void Stop() {
    detail::Invariant(!IsDispatchingThread(), kNotFromInsideDispatch);
    RunToCompletion([&] {
      mMachine.Stop();
      return true;
    });
  }

 private:
  static constexpr std::string_view kNotFromInsideDispatch =
      "Start() or Stop() was called from inside a dispatch of the same machine, which cannot "
      "finish before it";

  // Publishes which thread is dispatching for as long as it is.
  class DispatchingThread {
   public:
    explicit DispatchingThread(std::atomic<std::thread::id>& slot) noexcept : mSlot(slot) {
      mSlot.store(std::this_thread::get_id());
    }
    DispatchingThread(const DispatchingThread&) = delete;
    DispatchingThread(DispatchingThread&&) = delete;
    DispatchingThread& operator=(const DispatchingThread&) = delete;
    DispatchingThread& operator=(DispatchingThread&&) = delete;
    ~DispatchingThread() { mSlot.store(std::thread::id{}); }

   private:
    std::atomic<std::thread::id>& mSlot;
  };

  // Only the dispatching thread can find its own id in the slot, so a stale read by another
  // thread still answers false.
  bool IsDispatchingThread() const noexcept {
    return mDispatchingThread.load() == std::this_thread::get_id();
  }

  template <typename Work>
  bool RunToCompletion(Work work) {
    const std::lock_guard lock(mMutex);
    const DispatchingThread dispatching(mDispatchingThread);
    RunPending();  // left behind by a dispatch that threw
    const bool result = work();
    RunPending();
    return result;
  }

  void RunPending() {
    while (!mPending.empty()) {
      // Taken out of the queue before it runs, so an event that throws is not run again.
      const Event next = std::move(mPending.front());
      mPending.pop_front();
      // The outcome is dropped on purpose: its poster was told Queued.
      static_cast<void>(mMachine.ProcessEvent(next));
    }
  }

  Machine& mMachine;
  std::mutex mMutex;
  // The thread inside RunToCompletion, or no thread.
  std::atomic<std::thread::id> mDispatchingThread{};
  // Touched only by the dispatching thread, which holds mMutex.
  std::deque<Event> mPending;
};

}  // namespace Nalo::Hsm
