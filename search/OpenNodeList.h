// The serial search's open nodes: a doubly linked list of uniquely owned
// search-tree nodes, sorted by lowerBound, least first.
//
// Order among equal bounds is part of the search's behaviour (it decides which
// of several equally cheap tours is found first, and how many nodes are made):
//   - a node is inserted before the first entry whose bound is greater than or
//     equal to its own, so a newly inserted node goes ahead of older entries of
//     equal bound (most recent first);
//   - a child inserted together with its parent is placed by the same rule but
//     searching only from the entry after the parent, so with an equal bound it
//     lands right behind its parent. With a greater bound its place is the one
//     a search from the front would find: every entry up to the parent holds a
//     bound no greater than the parent's.
//
// Finding the place. On hard instances the list holds tens of thousands of
// nodes, and a walk from the front to the insertion place would cost more than
// bounding the node. So the list keeps an index, `firstOfBound`, an ordered map
// from every bound present in the list to the first entry that holds it. The
// first entry whose bound is >= b is then the index's lower bound of b, found
// in O(log d) for d distinct bounds; every operation below costs that plus
// O(1), except dropFrom, which also pays O(1) per destroyed node.
//
// Invariants between calls:
//   - the list is sorted by lowerBound, ascending;
//   - the index has a key for exactly the bounds present in the list, and maps
//     each to the first (frontmost) entry holding it.
// The index holds list positions, which stay valid while their entries stay in
// the list. It costs one map entry per distinct bound, a few dozen bytes, next
// to an open node's 10 bytes per city.
//
// The list owns its nodes; `takeFront` hands the front node to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>

#include "search/Subproblem.h"

namespace atsp {

class OpenNodeList {
  public:
    using Position = std::list<std::unique_ptr<Subproblem>>::iterator;

    bool empty() const { return nodes.empty(); }
    std::size_t size() const { return nodes.size(); }

    // The node of least bound, left in place. The list must not be empty.
    const Subproblem& front() const { return *nodes.front(); }

    // Removes the front node (least bound) and gives it to the caller.
    // The list must not be empty.
    std::unique_ptr<Subproblem> takeFront();

    // Inserts ahead of every entry of equal or greater bound, searching from the
    // front. Returns where the node now stands.
    Position insert(std::unique_ptr<Subproblem> node);

    // Inserts a child just filed at `parent`: the same rule, searching from the
    // entry after the parent's position. The child's bound must not be below
    // the parent's (a child has fewer arcs than its parent), or the list would
    // no longer be sorted.
    void insertBehind(Position parent, std::unique_ptr<Subproblem> child);

    // Destroys the nodes whose bound is not below `bound`: they stand at the
    // back and could never be branched once a tour of that cost is known.
    void dropFrom(std::int64_t bound);

    // Destroys every open node.
    void clear();

  private:
    // Inserts before the first entry whose bound is >= the node's own, which
    // makes the node the first entry of its bound.
    Position insertAsFirstOfBound(std::unique_ptr<Subproblem> node);

    std::list<std::unique_ptr<Subproblem>> nodes;
    std::map<std::int64_t, Position> firstOfBound;
};

}  // namespace atsp
