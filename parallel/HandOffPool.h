// The hand-off pool of the tree search (TreeSearch.h): one slot through which
// a busy thread gives nodes (a batch, chosen by the giver) to a thread short
// of work, and the count of idle threads by which the end of the search is
// detected.
//
// Locks and who holds them when:
// - `mutex` guards `slot`, `empty` and `nWaiting`. It is only ever held for a
//   few instructions, never while waiting for `ready`, and always released by
//   the thread that took it.
// - `ready` is a semaphore with one permit, held while the slot has nothing
//   to take. A giver that fills the slot releases it; the one idle thread that
//   gets through takes the batch and keeps the permit, so the slot is empty
//   and `ready` held again. The permit is taken and given back by different
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
// once dry, takes the nodes at once instead of waiting for a giver. Nodes may
// thus wait in the slot with nobody inside get(); they are not lost: a busy
// thread takes them at its next look (tryTake), or the next thread to run dry
// does, and the end is only announced with the slot empty. A thread inside
// get() first waits briefly, yielding, for the permit before it blocks: a
// hand-off is usually a few microseconds away, and a blocked thread's wake-up
// costs more.
//
// How the end is detected: a thread that runs out of work enters get() and
// counts itself in `nWaiting`. If that makes every thread of the team idle and
// the slot is empty, no node exists anywhere (nodes live only in a thread's
// own lists, its expansion's buffer, the expander's hands, or the slot), so the
// search is over. That last thread releases `ready`; each thread blocked on
// it wakes, sees the slot empty (the announcement) and releases the permit
// again for the next one, until all have left. If the slot still holds a node
// when the last thread arrives, it waits like the others and one of them takes
// the nodes. The permit count never exceeds one: a permit is only given while
// there is none.
//
// A giver never blocks: tryGive() only tries `mutex` and gives up if it is
// busy, and fills the slot only when somebody is short of work and the slot
// is empty, so nodes do not pile up and one slot suffices. Idle threads block
// on the semaphore instead of spinning.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

namespace atsp {

template <typename NodeType>
class HandOffPool {
  public:
    using Batch = std::vector<std::unique_ptr<NodeType>>;

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

    // Whether nodes wait in the slot, as seen without the mutex.
    bool holdsNode() const { return holding.load(std::memory_order_relaxed); }

    // Takes the nodes waiting in the slot, if any, into `into` (given empty)
    // without blocking: for a thread that has not run dry. `onTake(batch)`
    // runs while the pool still holds them, under the mutex (see `inspect`).
    template <typename OnTake>
    bool tryTake(Batch& into, OnTake onTake) {
        if (!mutex.try_lock()) {
            return false;
        }
        const bool taken = !empty && ready.try_acquire();
        if (taken) {
            takeSlot(into, onTake);
        }
        mutex.unlock();
        return taken;
    }

    // Gives nodes to a thread short of work without ever blocking: when one
    // waits or is low and the slot is empty, `fill(slot)` moves the nodes in
    // (the giver's own choice, made under the mutex). False when nobody
    // wants them now or `fill` gave none.
    template <typename Fill>
    bool tryGive(Fill fill) {
        if (!mutex.try_lock()) {
            return false;
        }
        if ((nWaiting == 0 && lowThreads.load(std::memory_order_relaxed) == 0) || !empty) {
            mutex.unlock();
            return false;
        }
        fill(slot);
        const bool given = !slot.empty();
        if (given) {
            empty = false;
            holding.store(true, std::memory_order_relaxed);
            ready.release();  // lets exactly one waiting thread through
        }
        mutex.unlock();
        return given;
    }

    // Called by a thread that has run out of work. Blocks until nodes are
    // handed over and moves them into `into` (given empty), or until the
    // search is over and returns false. `onTake` as for tryTake.
    template <typename OnTake>
    bool get(Batch& into, OnTake onTake) {
        mutex.lock();
        ++nWaiting;
        idleThreads.store(nWaiting, std::memory_order_relaxed);
        if (nWaiting == nThreads && empty) {
            // Everybody is idle and no node is in transit: announce the end.
            mutex.unlock();
            ready.release();
            return false;
        }
        mutex.unlock();

        // Nodes have been given, or the end is announced.
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
            return false;
        }
        --nWaiting;
        idleThreads.store(nWaiting, std::memory_order_relaxed);
        takeSlot(into, onTake);  // keeping the permit: the next giver gives one back
        return true;
    }

    // Runs `look(batch)` with hand-offs held still: `batch` holds the nodes in
    // transit, if any. A thread that reads what every thread holds from inside
    // `look` sees each node in exactly one place, provided a taker records
    // its nodes in `onTake`.
    template <typename Look>
    void inspect(Look look) {
        const std::lock_guard<std::mutex> guard(mutex);
        look(slot);
    }

  private:
    template <typename OnTake>
    void takeSlot(Batch& into, OnTake onTake) {
        onTake(slot);
        into.swap(slot);
        empty = true;
        holding.store(false, std::memory_order_relaxed);
    }

    Batch slot;                                           // the nodes in transit, if any
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
