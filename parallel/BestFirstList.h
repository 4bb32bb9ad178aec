// A thread's open nodes in best-first order: a doubly linked list of uniquely
// owned nodes, sorted by lowerBound, least first. Any node type with a
// signed 64-bit `lowerBound` will do.
//
// Order among equal bounds is part of the search's behaviour (it decides which
// of several equally cheap tours is found first, and how many nodes are made):
//   - a node is inserted before the first entry whose bound is greater than or
//     equal to its own, so a newly inserted node goes ahead of older entries of
//     equal bound (most recent first);
//   - a child filed together with its parent is placed by the same rule but
//     searching only from the entry after the parent, so with an equal bound it
//     lands right behind its parent. With a greater bound its place is the one
//     a search from the front would find: every entry up to the parent holds a
//     bound no greater than the parent's.
//
// Finding the place. On hard instances the list holds millions of nodes, and
// a walk from the front to the insertion place would cost more than bounding
// the node. So the list keeps an index, `firstOfBound`, an ordered map from
// every bound present in the list to the first entry that holds it. The first
// entry whose bound is >= b is then the index's lower bound of b, found in
// O(log d) for d distinct bounds; every operation below costs that plus O(1),
// except dropFrom, which also pays O(1) per destroyed node.
//
// Invariants between calls:
//   - the list is sorted by lowerBound, ascending;
//   - the index has a key for exactly the bounds present in the list, and maps
//     each to the first (frontmost) entry holding it.
// The index holds list positions, which stay valid while their entries stay in
// the list. It costs one map entry per distinct bound, a few dozen bytes.
//
// The list owns its nodes. Not thread-safe: one thread uses it at a time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <list>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace atsp {

template <typename NodeType>
class BestFirstList {
  public:
    using NodePointer = std::unique_ptr<NodeType>;
    using Position = typename std::list<NodePointer>::iterator;

    // The list keeps its order under any sequence of the operations below, so
    // nodes dropped by a new tour can be dropped from the back at once.
    static constexpr bool sortedByBound = true;

    bool empty() const { return nodes.empty(); }
    std::size_t size() const { return nodes.size(); }

    // The bound of the node to be expanded next. The list must not be empty.
    std::int64_t frontBound() const { return nodes.front()->lowerBound; }

    // Removes the front node (least bound) and gives it to the caller. The
    // list must not be empty.
    NodePointer takeFront() {
        const std::int64_t takenBound = nodes.front()->lowerBound;
        NodePointer node = std::move(nodes.front());
        nodes.pop_front();
        // The front entry was the first of its bound; the next entry inherits
        // that role if it holds the same bound.
        if (!nodes.empty() && nodes.front()->lowerBound == takenBound) {
            firstOfBound.begin()->second = nodes.begin();
        } else {
            firstOfBound.erase(firstOfBound.begin());
        }
        return node;
    }

    // Inserts ahead of every entry of equal or greater bound, searching from
    // the front. Returns where the node now stands.
    Position insert(NodePointer node) { return insertAsFirstOfBound(std::move(node)); }

    // Inserts a child just filed at `parent`: the same rule, searching from
    // the entry after the parent's position. The child's bound must not be
    // below the parent's (a child has fewer arcs than its parent), or the
    // list would no longer be sorted.
    void insertBehind(Position parent, NodePointer child) {
        // Every entry after the parent holds a bound >= the parent's, so a
        // child of equal bound stops at the very next entry. It is then not
        // the first of its bound (the parent, or an entry before it, is), and
        // the index stays.
        if (child->lowerBound <= (*parent)->lowerBound) {
            nodes.insert(std::next(parent), std::move(child));
            return;
        }
        insertAsFirstOfBound(std::move(child));
    }

    // Files what one expansion left: a node and then its child, whose bound
    // is no lower, by `insert` and `insertBehind`; any other nodes one by one
    // by `insert`. Leaves `open` holding empty pointers.
    void file(std::vector<NodePointer>& open) {
        if (open.size() == 2 && open[1]->lowerBound >= open[0]->lowerBound) {
            insertBehind(insert(std::move(open[0])), std::move(open[1]));
            return;
        }
        for (NodePointer& node : open) {
            insert(std::move(node));
        }
    }

    // A node handed over by another thread.
    void receive(NodePointer node) { insert(std::move(node)); }

    // Moves up to `count` nodes into `batch` for another thread: every other
    // entry from the second on (the second, the fourth, ...), so that both
    // threads go on with nodes of about the same bounds. The front stays: it
    // is often the node just branched, still in the thread's workspace. At
    // most half the list goes.
    void give(std::vector<NodePointer>& batch, std::size_t count) {
        count = std::min(count, nodes.size() / 2);
        Position entry = nodes.begin();
        for (std::size_t given = 0; given < count; ++given) {
            ++entry;  // the one kept
            entry = takeAt(entry, batch);
        }
    }

    // Destroys the nodes whose bound is not below `bound`: they stand at the
    // back and could never be branched once a tour of that cost is known.
    void dropFrom(std::int64_t bound) {
        const auto firstDropped = firstOfBound.lower_bound(bound);
        if (firstDropped == firstOfBound.end()) {
            return;
        }
        nodes.erase(firstDropped->second, nodes.end());
        firstOfBound.erase(firstDropped, firstOfBound.end());
    }

    // The least bound held; the largest value when empty.
    std::int64_t leastBound() const {
        return empty() ? std::numeric_limits<std::int64_t>::max() : nodes.front()->lowerBound;
    }

    // Destroys every node.
    void clear() {
        firstOfBound.clear();
        nodes.clear();
    }

  private:
    // Moves the entry at `entry` into `batch`; returns the entry behind it.
    Position takeAt(Position entry, std::vector<NodePointer>& batch) {
        const auto record = firstOfBound.find((*entry)->lowerBound);
        const bool firstOfItsBound = record->second == entry;
        batch.push_back(std::move(*entry));
        const Position behind = nodes.erase(entry);
        if (firstOfItsBound) {
            if (behind != nodes.end() && (*behind)->lowerBound == record->first) {
                record->second = behind;
            } else {
                firstOfBound.erase(record);
            }
        }
        return behind;
    }

    // Inserts before the first entry whose bound is >= the node's own, which
    // makes the node the first entry of its bound.
    Position insertAsFirstOfBound(NodePointer node) {
        const std::int64_t bound = node->lowerBound;
        // One look-up serves both the place (the first entry of the least
        // bound >= this one) and the index entry to set or add.
        const auto firstOfLeastBoundAtLeast = firstOfBound.lower_bound(bound);
        const Position place = firstOfLeastBoundAtLeast == firstOfBound.end()
                                   ? nodes.end()
                                   : firstOfLeastBoundAtLeast->second;
        const Position inserted = nodes.insert(place, std::move(node));
        if (firstOfLeastBoundAtLeast != firstOfBound.end() &&
            firstOfLeastBoundAtLeast->first == bound) {
            firstOfLeastBoundAtLeast->second = inserted;
        } else {
            firstOfBound.emplace_hint(firstOfLeastBoundAtLeast, bound, inserted);
        }
        return inserted;
    }

    std::list<NodePointer> nodes;
    std::map<std::int64_t, Position> firstOfBound;
};

}  // namespace atsp
