// Pseudocosts of branching on an arc under the LP bound: how much a child's
// LP value rose, per unit of the arc's value the branch moved, averaged over
// the children seen so far (strong branching's estimates and the children
// the tree bounded).
//
// Why: strong branching at every node took about 85 % of the time at n = 316,
// and the same arcs come back as candidates at node after node. Once an
// arc's rises in both directions have been seen `reliability` times, its
// average stands in for a new estimate (reliability branching, as in
// Achterberg, Koch and Martin 2005).
//
// For choosing an arc only: the averages are floating point and never prune.
// Units: rises per unit of value, in cost units.
//
// One table serves the whole team: what one thread's children show spares
// the others their strong branching (on 2 threads, 13 to 33 % less time on
// the families than a table per thread). Every call takes the table's lock;
// a node makes a few dozen calls against thousands of simplex pivots.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "graph/Graph.h"

namespace atsp {

class PseudoCosts {
  public:
    // A child that forbids the arc (`forced` false, the arc's value x fell to
    // 0: movement x) or forces it (movement 1 - x), whose LP value rose by
    // `rise`. Rises below zero (a child's LP may come out lower than its
    // parent's within the solver's tolerance) count as zero.
    void record(Node tail, Node head, bool forced, double movement, double rise);

    // The arc's average rises per unit of movement, when both directions
    // have at least `reliability` observations (and at least one); none
    // otherwise.
    struct Rates {
        double forbidden = 0;
        double forced = 0;
    };
    std::optional<Rates> reliableRates(Node tail, Node head, int reliability) const;

  private:
    struct Average {
        double sum = 0;
        std::int64_t count = 0;
    };
    struct Entry {
        Average direction[2];  // [0]: forbidden, [1]: forced
    };
    static std::uint64_t key(Node tail, Node head) {
        return static_cast<std::uint64_t>(tail) << 32 | head;
    }

    mutable std::mutex mutex;
    std::unordered_map<std::uint64_t, Entry> arcs;
};

}  // namespace atsp
