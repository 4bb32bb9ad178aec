// The hand-off pool of the tree search (TreeSearch.h): one slot through which
// a busy thread gives a node to an idle one, and the count of idle threads by
// which the end of the search is detected.
//
// Locks and who holds them when:
// - `mutex` guards `slot`, `empty` and `nWaiting`. It is only ever held for a
//   few instructions, never while waiting for `ready`, and always released by
//   the thread that took it.
// - `ready` is a semaphore with one permit, held while the slot has nothing
//   to take. A giver that fills the slot releases it; the one idle thread that
//   gets through takes the node and keeps the permit, so the slot is empty and
//   `ready` held again. The permit is taken and given back by different
//   threads by design, which a semaphore's contract allows (a mutex's, or an
//   OpenMP lock's, does not).
//
// Invariant between operations, until the end is announced: `empty` is true
// exactly when `ready` has no permit, and `nWaiting` counts the threads inside
// get(). `idleThreads` mirrors `nWaiting` for busy threads to glance at
// without the mutex.
//
// Threads about to run dry. A thread whose list is down to one node says so
// (`setLow`); a busy thread then fills the slot already, so that the other,
// once dry, takes the node at once instead of waiting for a giver. A node may
// thus wait in the slot with nobody inside get(); it is not lost: a busy
// thread takes it at its next look (tryTake), or the next thread to run dry
// does, and the end is only announced with the slot empty. A thread inside
// get() first waits briefly, yielding, for the permit before it blocks: a
// hand-off is usually a few microseconds away, and a blocked thread's wake-up
// costs more.
//
// How the end is detected: a thread that runs out of work enters get() and
// counts itself in `nWaiting`. If that makes every thread of the team idle and
// the slot is empty, no node exists anywhere (nodes live only in a thread's
// own list, its child buffer, the expand call it is in, or the slot), so the
// search is over. That last thread releases `ready`; each thread blocked on
// it wakes, sees the slot empty (the announcement) and releases the permit
// again for the next one, until all have left. If the slot still holds a node
// when the last thread arrives, it waits like the others and one of them takes
// the node. The permit count never exceeds one: a permit is only given while
// there is none.
//
// A giver never blocks: tryPut() only tries `mutex` and gives up if it is
// busy, and fills the slot only when somebody is waiting and the slot is
// empty, so nodes do not pile up and one slot suffices. Idle threads block on
// the semaphore instead of spinning.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>

namespace atsp {

template <typename NodeType>
class HandOffPool {
  public:
    // `teamSize` is the number of threads that will really run the search;
    // the end is detected by counting that many idle threads.
    explicit HandOffPool(std::int32_t teamSize)
        : ready(0), empty(true), nThreads(teamSize), nWaiting(0), idleThreads(0) {}

    // Runs after the thread team has ended; a node left in the slot is
    // released with it.
    ~HandOffPool() = default;

    HandOffPool(const HandOffPool&) = delete;
    HandOffPool& operator=(const HandOffPool&) = delete;

    // Corrects the team size when the runtime started fewer threads than
    // planned. Only before any thread of the team has used the pool.
    void setTeamSize(std::int32_t teamSize) { nThreads = teamSize; }

    // Whether some thread waits for work or is about to, as seen without the
    // mutex: a hint for a busy thread to offer a node now rather than at its
    // next look.
    bool wantsWork() const {
        return idleThreads.load(std::memory_order_relaxed) > 0 ||
               lowThreads.load(std::memory_order_relaxed) > 0;
    }

    // A thread is short of work (true: down to one node, or working behind
    // the others), or no longer.
    void setLow(bool low) { lowThreads.fetch_add(low ? 1 : -1, std::memory_order_relaxed); }

    // Whether a node waits in the slot, as seen without the mutex.
    bool holdsNode() const { return holding.load(std::memory_order_relaxed); }

    // Takes the node waiting in the slot, if there is one, without blocking:
    // for a thread that has not run dry. `onTake(node)` runs while the pool
    // still holds the node, under the mutex (see `inspect`).
    template <typename OnTake>
    std::unique_ptr<NodeType> tryTake(OnTake onTake) {
        if (!mutex.try_lock()) {
            return nullptr;
        }
        std::unique_ptr<NodeType> node;
        if (!empty && ready.try_acquire()) {
            onTake(*slot);
            node = std::move(slot);
            empty = true;
            holding.store(false, std::memory_order_relaxed);
        }
        mutex.unlock();
        return node;
    }

    // Offers `node` to an idle thread without ever blocking. On true the pool
    // has taken the node over; on false it is left with the caller.
    bool tryPut(std::unique_ptr<NodeType>& node) {
        if (!mutex.try_lock()) {
            return false;
        }
        if ((nWaiting == 0 && lowThreads.load(std::memory_order_relaxed) == 0) || !empty) {
            mutex.unlock();
            return false;
        }
        slot = std::move(node);
        empty = false;
        holding.store(true, std::memory_order_relaxed);
        ready.release();  // lets exactly one waiting thread through
        mutex.unlock();
        return true;
    }

    // Called by a thread that has run out of work. Blocks until a node is
    // handed over and returns it, or until the search is over and returns an
    // empty pointer. `onTake` as for tryTake.
    template <typename OnTake>
    std::unique_ptr<NodeType> get(OnTake onTake) {
        mutex.lock();
        ++nWaiting;
        idleThreads.store(nWaiting, std::memory_order_relaxed);
        if (nWaiting == nThreads && empty) {
            // Everybody is idle and no node is in transit: announce the end.
            mutex.unlock();
            ready.release();
            return nullptr;
        }
        mutex.unlock();

        // A node has been given, or the end is announced.
        bool permitted = false;
        for (int look = 0; look < spinLooks && !permitted; ++look) {
            permitted = ready.try_acquire();
            if (!permitted) {
                std::this_thread::yield();
            }
        }
        if (!permitted) {
            ready.acquire();
        }
        const std::lock_guard<std::mutex> guard(mutex);
        if (empty) {
            // The announcement: pass the permit on to the next waiting thread.
            ready.release();
            return nullptr;
        }
        --nWaiting;
        idleThreads.store(nWaiting, std::memory_order_relaxed);
        onTake(*slot);
        std::unique_ptr<NodeType> node = std::move(slot);
        empty = true;  // keeping the permit: the next giver gives one back
        holding.store(false, std::memory_order_relaxed);
        return node;
    }

    // Runs `look(node)` with hand-offs held still: `node` is the node in
    // transit or null. A thread that reads what every thread holds from
    // inside `look` sees each node in exactly one place, provided a taker
    // records its node in `onTake`.
    template <typename Look>
    void inspect(Look look) {
        const std::lock_guard<std::mutex> guard(mutex);
        look(empty ? nullptr : slot.get());
    }

  private:
    std::unique_ptr<NodeType> slot;                       // the node in transit, if any
    std::binary_semaphore ready;                          // one permit while the slot holds a node
    std::mutex mutex;                                     // guards slot, empty, nWaiting
    bool empty;                                           // the slot holds no node
    std::int32_t nThreads;                                // threads in the team
    std::int32_t nWaiting;                                // threads inside get()
    std::atomic<std::int32_t> idleThreads;                // nWaiting, for a glance
    alignas(64) std::atomic<std::int32_t> lowThreads{0};  // threads short of work
    std::atomic<bool> holding{false};                     // !empty, for a glance
    // Looks at the permit, yielding in between, before get() blocks.
    static constexpr int spinLooks = 200;
};

}  // namespace atsp
