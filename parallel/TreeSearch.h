// The loop of a best-first branch and bound, on one thread or a team.
//
// Given a root and one expander per thread, `run` expands nodes until none is
// left anywhere (or the expanders ask to stop). It knows nothing of the
// problem: bounds, pruning and the shared incumbent are the expander's. A
// node type needs a signed 64-bit `lowerBound`, which no descendant's bound
// undercuts. An expander provides
//     void expand(std::unique_ptr<NodeType> node, std::vector<...>& open);
//         // the open nodes the expansion leaves, the node first, its child
//         // behind it; a node not appended is destroyed
//     std::int64_t pruneBound() const;  // nodes at or above it are useless
//     bool stopNow();                   // the search must stop (a time limit)
//
// Each thread t expands nodes from open nodes of its own (`List`: BestFirstList
// or ForwardPassList, whose order among equal bounds is a choice of the
// search) without any lock. Once it holds `listLimit` nodes, the nodes of its
// expansions go on a stack of its own instead, the child on top, which it
// expands first: depth-first, so that its open nodes stop growing while those
// subtrees are searched. When the pruning bound falls (a new tour), a sorted
// list drops the nodes at or above it at once, to give their memory back.
//
// Threads share work through a one-slot pool (HandOffPool.h). A thread short
// of work says so: one that runs dry waits in the pool; one down to its last
// node, or (balancing) holding far fewer nodes than another or whose best
// node lies more than `boundMargin` behind another thread's, only marks
// itself. A busy thread that sees such a mark after an expansion, or looks
// anyway once every 3c of its expansions (c threads; the first time after
// 3c + t, which spreads the looks), gives nodes its list chooses, up to
// `handOffBatch` (never its first: usually the node it just branched, still
// in its workspace), else the bottom of its stack. Batches keep a thread that
// was handed work supplied for a while: handed one node at a time, it would
// come back for more after a few expansions. A thread short of work that has
// not run dry takes a node waiting in the pool after each expansion, any other
// thread at its look, so that a node given to a thread that has recovered
// meanwhile does not wait for long. The search ends when every thread waits
// in the pool and no node is in transit. On one thread none of this runs.
//
// Every node is at any moment in exactly one place: a thread's list or stack,
// the buffer of its expansion, the pool's slot, or an expander's hands.
//
// Stopping. Once an expander asks to stop, every thread drops the nodes it
// takes up and all it holds, noting the least bound among them: no tour below
// that bound is left unexplored. The dropped nodes are not destroyed but
// handed to the caller in the outcome: a stop comes at a time limit, and
// freeing a tree of millions of nodes takes a second and more, which the
// caller can spend after its report (releaseInBackground). An exception
// thrown on any thread (memory running out) stops the search the same way,
// its nodes destroyed at once, and is rethrown by `run`.
//
// Progress. With `publishLeastBounds`, each thread publishes the least bound
// of what it holds after its expansions (a list that is not sorted by bound
// only every so often), and lowers it under the pool's lock when it receives
// a node. A value published once stays a lower bound on what the thread holds
// later, since every node it makes is a descendant of one it held, so
// `liveNodes`, which reads every value and the node in transit with hand-offs
// held still, never claims more than is proven.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "parallel/HandOffPool.h"
#include "parallel/ThreadTeam.h"

namespace atsp {

struct TreeSearchSettings {
    // Open nodes per thread from which expansions go depth-first; 0: never.
    std::size_t listLimit = 0;
    // A thread that holds far fewer nodes than another, or whose best node
    // lies more than `boundMargin` above another thread's, counts as short of
    // work (besides one down to its last node).
    bool balance = false;
    std::int64_t boundMargin = 0;
    // Nodes a hand-off gives at most (the list chooses which).
    std::size_t handOffBatch = 1;
    // Keep what liveNodes reads up to date.
    bool publishLeastBounds = false;
    // Count the most open nodes (exact on one thread, sampled on a team).
    bool countOpenNodes = false;
};

struct TreeSearchOutcome {
    // An expander asked to stop, and nodes were dropped unexpanded.
    bool stopped = false;
    // The least bound of those nodes.
    std::int64_t leastAbandonedBound = std::numeric_limits<std::int64_t>::max();
    std::int64_t mostOpenNodes = 0;
    // Those nodes, still alive: released with the last copy of this pointer.
    std::shared_ptr<void> droppedNodes;
};

// What all threads hold, for a progress report.
struct LiveNodes {
    std::int64_t leastBound = std::numeric_limits<std::int64_t>::max();
    std::int64_t openNodes = 0;
};

template <typename NodeType, typename List, typename Expander>
class TreeSearch {
  public:
    using NodePointer = std::unique_ptr<NodeType>;
    using Batch = std::vector<NodePointer>;

    // One expander per thread of the team that is planned; they must outlive
    // the search.
    TreeSearch(const std::vector<std::unique_ptr<Expander>>& expanders,
               const TreeSearchSettings& settings)
        : expanders(expanders),
          settings(settings),
          pool(static_cast<std::int32_t>(expanders.size())),
          published(expanders.size()),
          workers(expanders.size()) {}

    TreeSearch(const TreeSearch&) = delete;
    TreeSearch& operator=(const TreeSearch&) = delete;

    TreeSearchOutcome run(NodePointer root) {
        Worker& first = workers[0];
        first.list.receive(std::move(root));
        first.mostOpen = 1;
        publish(0, first);
        runTeam(
            static_cast<std::int32_t>(expanders.size()),
            [this](std::int32_t teamSize) { pool.setTeamSize(teamSize); },
            [this](std::int32_t thread, std::int32_t teamSize) {
                work(static_cast<std::size_t>(thread), teamSize);
            });
        if (failure) {
            std::rethrow_exception(failure);
        }
        TreeSearchOutcome outcome;
        outcome.stopped = stopping.load(std::memory_order_relaxed);
        outcome.leastAbandonedBound = leastAbandoned;
        if (!dropped->empty()) {
            outcome.droppedNodes = std::move(dropped);
        }
        for (const Worker& worker : workers) {
            outcome.mostOpenNodes = std::max(outcome.mostOpenNodes, worker.mostOpen);
        }
        return outcome;
    }

    // What all threads hold, as published (see the header). Any thread, any
    // time during `run`.
    LiveNodes liveNodes() {
        LiveNodes live;
        pool.inspect([&](const Batch& inTransit) {
            for (const NodePointer& node : inTransit) {
                live.leastBound = std::min(live.leastBound, node->lowerBound);
                ++live.openNodes;
            }
            for (const Published& each : published) {
                live.leastBound =
                    std::min(live.leastBound, each.leastBound.load(std::memory_order_relaxed));
                live.openNodes += each.openNodes.load(std::memory_order_relaxed);
            }
        });
        return live;
    }

  private:
    static constexpr std::int64_t None = std::numeric_limits<std::int64_t>::max();

    // What a thread publishes, on a cache line of its own.
    struct alignas(64) Published {
        std::atomic<std::int64_t> leastBound{None};
        std::atomic<std::int64_t> openNodes{0};
        std::atomic<std::int64_t> frontBound{None};
    };

    // The nodes a stop dropped, in the containers that held them.
    struct Dropped {
        std::vector<NodePointer> nodes;
        std::list<List> lists;  // never relocated: a list may not move without throwing
        std::vector<std::vector<NodePointer>> stacks;
        bool empty() const { return nodes.empty() && lists.empty() && stacks.empty(); }
    };

    // A thread's own nodes. Touched by that thread alone.
    struct alignas(64) Worker {
        List list;
        std::vector<NodePointer> deep;        // the depth-first stack, top at the back
        std::vector<std::int64_t> deepLeast;  // least bound of deep[0..k]
        std::vector<NodePointer> open;        // what the last expansion left
        Batch received;                       // what the pool handed over
        std::int64_t lastPrune = None;
        std::int64_t mostOpen = 0;
        std::uint32_t expansions = 0;

        std::size_t size() const { return list.size() + deep.size(); }
        std::int64_t leastHeld() const {
            return std::min(list.leastBound(), deepLeast.empty() ? None : deepLeast.back());
        }
    };

    void work(std::size_t thread, std::int32_t teamSize) {
        Worker& me = workers[thread];
        Expander& expander = *expanders[thread];
        const bool team = teamSize > 1;
        const std::int32_t sharePeriod = 3 * teamSize;
        std::int32_t shareCountdown = sharePeriod + static_cast<std::int32_t>(thread);
        bool low = false;  // this thread has said it is short of work
        bool behind = false;
        for (;;) {
            try {
                NodePointer node = takeNext(me);
                if (!node) {
                    if (!team) {
                        return;
                    }
                    publish(thread, me);
                    if (!pool.get(me.received,
                                  [&](const Batch& taken) { noteReceived(thread, taken); })) {
                        if (low) {
                            pool.setLow(false);
                        }
                        return;
                    }
                    receive(me);
                    continue;
                }
                if (stopping.load(std::memory_order_relaxed) || expander.stopNow()) {
                    stopping.store(true, std::memory_order_relaxed);
                    abandon(me, std::move(node));
                    continue;
                }
                expander.expand(std::move(node), me.open);
                const std::int64_t prune = expander.pruneBound();
                if (prune < me.lastPrune) {
                    me.lastPrune = prune;
                    me.list.dropFrom(prune);
                }
                file(me);
                ++me.expansions;
                if (settings.publishLeastBounds || settings.countOpenNodes) {
                    publish(thread, me);
                    countOpenNodes(me, team);
                }
                if (!team) {
                    continue;
                }
                const bool lookNow = --shareCountdown <= 0;
                if (lookNow) {
                    shareCountdown = sharePeriod;
                    // Working behind the others is looked at once every period:
                    // a hand-off costs the giver's workspace its node.
                    behind = settings.balance && worksBehind(thread, me);
                }
                if (low != (me.size() <= 1 || behind)) {
                    low = !low;
                    pool.setLow(low);
                }
                if (low) {
                    // A thread short of work takes a node waiting in the pool, and
                    // gives none.
                    takeFromPool(thread, me);
                    continue;
                }
                if (lookNow) {
                    takeFromPool(thread, me);
                }
                // A thread seen short of work is served at once; otherwise the
                // pool is looked at once every period.
                if (lookNow || pool.wantsWork()) {
                    offerNodes(me);
                }
            } catch (...) {
                fail(me, std::current_exception());
            }
        }
    }

    // The top of the stack, else the front of the list; null when neither
    // holds a node.
    static NodePointer takeNext(Worker& me) {
        if (!me.deep.empty()) {
            NodePointer node = std::move(me.deep.back());
            me.deep.pop_back();
            me.deepLeast.pop_back();
            return node;
        }
        return me.list.empty() ? nullptr : me.list.takeFront();
    }

    void file(Worker& me) {
        if (settings.listLimit == 0 || me.size() < settings.listLimit) {
            me.list.file(me.open);
        } else {
            for (NodePointer& node : me.open) {
                const std::int64_t bound = node->lowerBound;
                me.deep.push_back(std::move(node));
                me.deepLeast.push_back(me.deepLeast.empty() ? bound
                                                            : std::min(bound, me.deepLeast.back()));
            }
        }
        me.open.clear();
    }

    // Moves the node and all the thread holds to `dropped`: whole
    // containers, so that no node is freed here.
    void abandon(Worker& me, NodePointer node) {
        const std::int64_t least = std::min(node->lowerBound, me.leastHeld());
        const std::lock_guard<std::mutex> guard(abandonLock);
        leastAbandoned = std::min(leastAbandoned, least);
        dropped->nodes.push_back(std::move(node));
        if (!me.list.empty()) {
            dropped->lists.push_back(std::move(me.list));
            me.list = List{};
        }
        if (!me.deep.empty()) {
            dropped->stacks.push_back(std::move(me.deep));
            me.deep.clear();
        }
        me.deepLeast.clear();
    }

    // An exception on a thread of a team cannot leave the team: the thread
    // drops its nodes, keeps the first failure for `run` to rethrow, and
    // stops the search; it then waits in the pool like any idle thread, so
    // that the end is detected as always.
    void fail(Worker& me, std::exception_ptr exception) {
        me.open.clear();
        me.received.clear();
        me.list.clear();
        me.deep.clear();
        me.deepLeast.clear();
        const std::lock_guard<std::mutex> guard(abandonLock);
        if (!failure) {
            failure = exception;
        }
        stopping.store(true, std::memory_order_relaxed);
    }

    void publish(std::size_t thread, const Worker& me) {
        Published& mine = published[thread];
        mine.openNodes.store(static_cast<std::int64_t>(me.size()), std::memory_order_relaxed);
        // An unsorted list is walked once every so many expansions; its last
        // value stays valid meanwhile (see the header).
        constexpr std::uint32_t walkPeriod = 256;
        if (settings.publishLeastBounds &&
            (List::sortedByBound || me.expansions % walkPeriod == 0 || me.size() == 0)) {
            mine.leastBound.store(me.leastHeld(), std::memory_order_relaxed);
        }
    }

    // Under the pool's lock, before the nodes leave the slot.
    void noteReceived(std::size_t thread, const Batch& nodes) {
        std::atomic<std::int64_t>& least = published[thread].leastBound;
        for (const NodePointer& node : nodes) {
            if (node->lowerBound < least.load(std::memory_order_relaxed)) {
                least.store(node->lowerBound, std::memory_order_relaxed);
            }
        }
    }

    void countOpenNodes(Worker& me, bool team) {
        if (!settings.countOpenNodes) {
            return;
        }
        if (!team) {
            me.mostOpen = std::max(me.mostOpen, static_cast<std::int64_t>(me.size()));
            return;
        }
        // Other threads' counts live on their cache lines: sampled.
        constexpr std::uint32_t samplePeriod = 16;
        if (me.expansions % samplePeriod == 0) {
            std::int64_t total = 0;
            for (const Published& each : published) {
                total += each.openNodes.load(std::memory_order_relaxed);
            }
            me.mostOpen = std::max(me.mostOpen, total);
        }
    }

    // Publishes this thread's size and best bound, and tells whether it works
    // behind another thread: one that holds more than four times its nodes
    // (a thread living from hand to mouth would be handed nodes again and
    // again), or whose best node lies more than the margin below its own.
    // Values are stored only when they change, so that a look does not
    // invalidate the other threads' copies of this thread's line for nothing.
    bool worksBehind(std::size_t thread, const Worker& me) {
        Published& mine = published[thread];
        const std::int64_t front = me.list.empty() ? None : me.list.frontBound();
        const auto size = static_cast<std::int64_t>(me.size());
        if (mine.frontBound.load(std::memory_order_relaxed) != front) {
            mine.frontBound.store(front, std::memory_order_relaxed);
        }
        if (mine.openNodes.load(std::memory_order_relaxed) != size) {
            mine.openNodes.store(size, std::memory_order_relaxed);
        }
        for (std::size_t other = 0; other < published.size(); ++other) {
            if (other == thread) {
                continue;
            }
            const std::int64_t otherFront =
                published[other].frontBound.load(std::memory_order_relaxed);
            const std::int64_t otherSize =
                published[other].openNodes.load(std::memory_order_relaxed);
            if (4 * size + 8 < otherSize ||
                (otherFront != None && otherFront + settings.boundMargin < front)) {
                return true;
            }
        }
        return false;
    }

    void takeFromPool(std::size_t thread, Worker& me) {
        if (pool.holdsNode() &&
            pool.tryTake(me.received, [&](const Batch& taken) { noteReceived(thread, taken); })) {
            receive(me);
        }
    }

    void receive(Worker& me) {
        for (NodePointer& node : me.received) {
            me.list.receive(std::move(node));
        }
        me.received.clear();
    }

    // Gives nodes of the list (the list's choice, up to `handOffBatch`), else
    // the bottom of the stack (the shallowest node there); the thread keeps
    // at least one node.
    void offerNodes(Worker& me) {
        if (me.list.size() >= 2) {
            pool.tryGive([&](Batch& batch) { me.list.give(batch, settings.handOffBatch); });
        } else if (!me.deep.empty() && me.size() >= 2) {
            if (pool.tryGive([&](Batch& batch) { batch.push_back(std::move(me.deep.front())); })) {
                me.deep.erase(me.deep.begin());
                me.deepLeast.clear();
                for (const NodePointer& node : me.deep) {
                    me.deepLeast.push_back(me.deepLeast.empty()
                                               ? node->lowerBound
                                               : std::min(node->lowerBound, me.deepLeast.back()));
                }
            }
        }
    }

    const std::vector<std::unique_ptr<Expander>>& expanders;
    const TreeSearchSettings settings;
    HandOffPool<NodeType> pool;
    std::vector<Published> published;
    std::vector<Worker> workers;
    std::atomic<bool> stopping{false};
    std::mutex abandonLock;
    std::int64_t leastAbandoned = None;  // guarded by abandonLock
    std::shared_ptr<Dropped> dropped = std::make_shared<Dropped>();  // guarded by abandonLock
    std::exception_ptr failure;          // guarded by abandonLock
};

}  // namespace atsp
