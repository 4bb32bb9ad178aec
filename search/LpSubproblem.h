// One node of the search tree under the LP bound.
//
// What a node stands for: the tours that use every arc its constraints force
// and none they forbid (ConstraintChain.h, shared with its ancestors, one
// record a child). A node is made unbounded, with its parent's bound, and
// bounded by the LP with subtour cuts when it is taken up (LpExpander.h):
// the bound of the parent is a valid bound for the child, since the child's
// tours are some of the parent's. A bounded node is branched at once on one
// arc: one child forbids it, the other forces it, so every tour of the node
// lies below exactly one child.
#pragma once

#include <cstdint>
#include <memory>

#include "search/ConstraintChain.h"

namespace atsp {

struct LpBasis;  // lp/LpRelaxation.h: a shared_ptr needs no more of it here

struct LpSubproblem {
    // No tour below the node costs less: its own LP bound once bounded, at
    // least its parent's.
    std::int64_t lowerBound = 0;
    ConstraintChain constraints;
    // The branch that made the node, for the pseudocosts (PseudoCosts.h):
    // the arc (tail NoNode at the root), whether it was forced, how far the
    // branch moved its value (a forbidding child that forbids the reverse
    // too: the two values' sum), and the parent's LP value.
    struct Branch {
        Node tail = NoNode;
        Node head = NoNode;
        bool forced = false;
        double movement = 0;
        double parentValue = 0;
    };
    Branch branch;
    // The reverse of each of its tours cheaper than the incumbent is one of
    // them too: reversal keeps tour costs (graph/Reversal.h) and the node's
    // own constraints only forbid arcs in pairs, both ways (arcs fixed by
    // reduced costs lie on no cheaper tour and change nothing here). Of its
    // children that force an arc and its reverse, one then holds the reverse
    // of every cheaper tour of the other, and serves for both.
    bool mirrored = false;
    // The parent's optimal basis, shared by its children: the node's LP
    // starts from it when its thread's LP made it (a start only, no part of
    // the bound; LpExpander.h says why).
    std::shared_ptr<const LpBasis> parentBasis;
};

}  // namespace atsp
