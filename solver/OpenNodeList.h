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
//     lands right behind its parent.
// Insertion is a linear walk; the list is short next to the cost of a node.
// The list owns its nodes; `takeFront` hands the front node to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>

#include "solver/Subproblem.h"

class OpenNodeList {
  public:
    using Position = std::list<std::unique_ptr<Subproblem>>::iterator;

    bool empty() const { return nodes.empty(); }
    std::size_t size() const { return nodes.size(); }

    // Removes the front node (least bound) and gives it to the caller.
    std::unique_ptr<Subproblem> takeFront();

    // Inserts ahead of every entry of equal or greater bound, searching from the
    // front. Returns where the node now stands.
    Position insert(std::unique_ptr<Subproblem> node);

    // Inserts a child just filed `parent`: the same rule, searching from the
    // entry after the parent's position.
    void insertBehind(Position parent, std::unique_ptr<Subproblem> child);

    // Destroys the nodes whose bound is not below `bound`: they stand at the
    // back and could never be branched once a tour of that cost is known.
    void dropFrom(std::int64_t bound);

    // Destroys every open node.
    void clear() { nodes.clear(); }

  private:
    Position insertFrom(Position searchStart, std::unique_ptr<Subproblem> node);

    std::list<std::unique_ptr<Subproblem>> nodes;
};
