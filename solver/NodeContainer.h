// The hand-off pool of the parallel tree search: one slot through which a busy
// thread gives a node to an idle one, and the count of idle threads by which
// the end of the search is detected.
//
// Locks and who holds them when:
// - `mutex` guards `slot`, `empty` and `nWaiting`. It is only ever held for a
//   few instructions, and never while waiting for `readyLock`.
// - `readyLock` is a semaphore with one permit, not an owned mutex. It is held
//   (by nobody in particular) while the slot has nothing to take. A giver that
//   fills the slot releases it; the one idle thread that gets through takes
//   the node and keeps the permit, so the slot is empty and `readyLock` held
//   again. The constructing thread acquires it first, a giver releases it, and
//   a receiver acquires it: acquisition and release happen on different
//   threads by design. The GNU OpenMP runtime's simple locks keep no owner, so
//   this is sound with them.
//
// Invariant between operations, until the end is announced: `empty` is true
// exactly when `readyLock` is held, and `nWaiting` counts the threads inside
// get().
//
// How the end is detected: a thread that runs out of work enters get() and
// counts itself in `nWaiting`. If that makes every thread of the team idle and
// the slot is empty, no node exists anywhere (nodes live only in a thread's
// own list, its child buffer, the expand call it is in, or the slot), so the
// search is over. That last thread releases `readyLock`; each thread blocked
// on it wakes, sees the slot empty (the announcement) and releases the permit
// again for the next one, until all have left. If the slot still holds a node
// when the last thread arrives, it waits like the others and one of them takes
// the node.
//
// A giver never blocks: tryPut() only tests `mutex` and gives up if it is
// busy, and fills the slot only when somebody is waiting and the slot is
// empty, so nodes do not pile up and one slot suffices. Idle threads block in
// the lock instead of spinning. No atomics: the counters are plain integers
// changed under `mutex`.
#pragma once

#include <omp.h>

#include <cstdint>
#include <memory>

template <typename NodeType>
class NodeContainer {
  public:
    // `teamSize` is the number of threads that will really run the search;
    // the end is detected by counting that many idle threads.
    explicit NodeContainer(std::int32_t teamSize) : empty(true), nThreads(teamSize), nWaiting(0) {
        omp_init_lock(&readyLock);
        omp_set_lock(&readyLock);  // nothing to take yet
        omp_init_lock(&mutex);
    }

    // Runs after the thread team has ended. `readyLock` may still be held;
    // a node left in the slot is released with it.
    ~NodeContainer() {
        omp_destroy_lock(&readyLock);
        omp_destroy_lock(&mutex);
    }

    NodeContainer(const NodeContainer&) = delete;
    NodeContainer& operator=(const NodeContainer&) = delete;

    // Corrects the team size when the runtime started fewer threads than
    // planned. Only before any thread of the team has used the pool.
    void setTeamSize(std::int32_t teamSize) { nThreads = teamSize; }

    // Offers `node` to an idle thread without ever blocking. On true the pool
    // has taken the node over; on false it is left with the caller.
    bool tryPut(std::unique_ptr<NodeType>& node) {
        if (!omp_test_lock(&mutex)) {
            return false;
        }
        if (nWaiting == 0 || !empty) {
            omp_unset_lock(&mutex);
            return false;
        }
        slot = std::move(node);
        empty = false;
        omp_unset_lock(&readyLock);  // lets exactly one waiting thread through
        omp_unset_lock(&mutex);
        return true;
    }

    // Called by a thread that has run out of work. Blocks until a node is
    // handed over and returns it, or until the search is over and returns an
    // empty pointer.
    std::unique_ptr<NodeType> get() {
        omp_set_lock(&mutex);
        ++nWaiting;
        if (nWaiting == nThreads && empty) {
            // Everybody is idle and no node is in transit: announce the end.
            omp_unset_lock(&mutex);
            omp_unset_lock(&readyLock);
            return nullptr;
        }
        omp_unset_lock(&mutex);

        omp_set_lock(&readyLock);  // a node has been given, or the end is announced
        omp_set_lock(&mutex);
        if (empty) {
            // The announcement: pass the permit on to the next waiting thread.
            omp_unset_lock(&mutex);
            omp_unset_lock(&readyLock);
            return nullptr;
        }
        --nWaiting;
        std::unique_ptr<NodeType> node = std::move(slot);
        empty = true;  // keeping readyLock: the next giver releases it
        omp_unset_lock(&mutex);
        return node;
    }

  private:
    std::unique_ptr<NodeType> slot;  // the node in transit, if any
    omp_lock_t readyLock;            // one-permit semaphore: held while the slot is empty
    omp_lock_t mutex;                // guards slot, empty, nWaiting
    bool empty;                      // the slot holds no node
    std::int32_t nThreads;           // threads in the team
    std::int32_t nWaiting;           // threads inside get()
};
