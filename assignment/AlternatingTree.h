// The rows one Hungarian augmentation has reached from its free root row.
//
// The assignment solver grows one tree per augmentation: it starts at a free
// row, reaches further rows through the columns they hold, and, once a free
// column turns up, walks back from the row next to that column to the root
// with `parentOf` and `root` to flip the augmenting path. Only rows are kept
// here; the solver records the columns itself.
//
// Every node handed in must be below `halfNodes` (the number of rows, equal to
// the number of columns). That bound is checked by assertions that stay active
// in every build, Release included: an out-of-range row would otherwise write
// outside the tree silently. Nothing else is checked: a parent outside the tree
// or a repeated `add` (which replaces the parent) is accepted.
//
// A tree owns its vectors and serves one augmentation at a time; `restart`
// readies it for the next.
#pragma once

#include <cstdint>
#include <vector>

#include "graph/Graph.h"

namespace atsp {

class AlternatingTree {
  public:
    // halfNodes >= 1 and root < halfNodes are the caller's promise; not checked.
    AlternatingTree(Node halfNodes, Node root);

    // Empties the tree and plants it anew at `root`, as a new tree would be,
    // in time proportional to the rows the tree held: a solver reuses one
    // tree for all its augmentations instead of allocating n entries each.
    void restart(Node root);

    // Puts `node` into the tree, reached from `parent`.
    void add(Node node, Node parent);

    // The row `node` was reached from; 0 for the root and for rows never added.
    Node parentOf(Node node) const;

    bool contains(Node node) const;

    Node root() const { return rootNode; }

  private:
    Node halfNodes;
    Node rootNode;
    std::vector<Node> parents;         // parents[k]: row k was reached from it
    std::vector<std::uint8_t> inTree;  // nonzero once row k is in the tree
    std::vector<Node> members;         // rows added since the last (re)start
};

}  // namespace atsp
