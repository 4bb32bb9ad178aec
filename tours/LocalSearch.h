// A local search for asymmetric tours: moves that keep every arc's direction,
// looked for on neighbour lists, and kicks that shake a tour out of a local
// optimum.
//
// Moves. Both exchange three arcs and keep the direction of every stretch:
// - the segment swap: arcs a -> a', b -> b', c -> c', met in this order along
//   the tour, give way to a -> b', b -> c', c -> a', so that the stretch
//   b'..c now comes before a'..b. Sought as a chain: a -> b' among a's
//   neighbours, then b -> c' among b's, each step with a positive partial
//   gain (which some rotation of every improving move has);
// - Or-opt: a segment of 1 to 3 cities moves between two other neighbours
//   x -> y, with x -> first or last -> y among the neighbours.
// Where every tour costs what its reverse does (allowReversals), a third:
// - 2-opt: a -> b and c -> d give way to a -> c and b -> d, the stretch
//   b..c driven backwards, with a -> c among a's neighbours; its change of
//   cost is O(1) from potentials (graph/Reversal.h).
// Neighbours are the given arcs of each row (a sparse set of cheap arcs),
// ordered by reduced cost under the assignment's duals: arcs of an optimal
// assignment cost nothing there, and an optimal tour uses mostly arcs of small
// reduced cost. A move's change of cost is the same in reduced costs as in
// costs, since each city loses and gains one outgoing and one incoming arc.
// Cities wait in a queue and are tried until no move from them improves the
// tour (don't-look bits); a move puts the cities it touched back in.
//
// Kicks. Once no move improves the tour, a double bridge on three short
// adjacent stretches (B C D becomes D C B, which no single move undoes)
// is followed by moves from the cities it touched; the result stays when it
// costs no more, and is undone otherwise. Kicks go on until a number of them
// in a row brings no gain, the tour reaches a lower bound, or a limit says
// stop. Such a run gets stuck in a local optimum that depends much on its
// random choices (on the structured families, the best of a few runs lies
// 1 to 2 % below their mean), so several runs start from the same tour.
// Random choices come from a generator of given seed: a call is
// reproducible.
//
// Cost. The tour is held as an array of cities with each city's place in it;
// a move rewrites the shorter way round of the stretches it exchanges
// (Or-opt: at most a few cities plus the gap they jump), so a descent costs
// about n * k^2 row look-ups for k neighbours, plus the moves made.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "graph/Graph.h"

namespace atsp {

struct LocalSearchLimits {
    // Kicks in a row without a cheaper tour before the search ends; 0: only
    // the descent to a local optimum. Before the first gain only `patience`
    // kicks in a row are allowed; after a gain at the k-th kick, patience + k
    // (at most `kicksWithoutGain`): where kicks do not pay (on random
    // instances Karp's patching beats what these moves find) they stop soon,
    // and where they do the search goes on about as long as it took to gain.
    std::size_t kicksWithoutGain = 0;
    std::size_t patience = 100;
    // Runs of kicks, each from the tour the descent gave and with other
    // random choices, the best tour kept: after one that kicked in vain no
    // other starts; else they go on until `runsWithoutGain` in a row bring no
    // better tour.
    std::size_t runsWithoutGain = 3;
    // Seeds the kicks' random choices: calls on the same tour with other
    // seeds try other kicks.
    std::uint64_t seed = 1;
    // No tour costs less: the search ends when it reaches this cost.
    std::int64_t lowerBound = std::numeric_limits<std::int64_t>::min();
    // The search ends at this time, or once `stop` (asked between kicks)
    // says so.
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    std::function<bool()> stop;
};

class LocalSearch {
  public:
    // `candidates`: for each row, positions in its list (as for patchCycles)
    // of the arcs to try first; the duals order them. The graph must outlive
    // the search.
    LocalSearch(const Graph& graph, const std::vector<std::int64_t>& rowDuals,
                const std::vector<std::int64_t>& columnDuals,
                const std::vector<std::vector<Node>>& candidates);

    // Lets the search also reverse stretches (2-opt): for graphs where every
    // tour costs what its reverse does, with the potentials of
    // reversalPotentials (graph/Reversal.h), by which a stretch driven
    // backwards costs q(last) - q(first) more. Before any call of improve.
    void allowReversals(std::vector<std::int64_t> potentials);

    // Improves `tour` (successor form, `cost` its cost) in place and returns
    // its new cost, never higher. Any number of calls may run at once, from
    // different threads: a call keeps its working state to itself.
    std::int64_t improve(std::vector<Node>& tour, std::int64_t cost,
                         const LocalSearchLimits& limits) const;

    struct Neighbour {
        std::int64_t reducedCost;
        Node city;
    };

  private:
    friend class LocalSearchRun;

    const Graph& graph;
    std::vector<std::int64_t> rowDuals;
    std::vector<std::int64_t> columnDuals;
    // For each city, the heads of its candidate arcs, and the tails of the
    // candidate arcs into it; each least reduced cost first.
    std::vector<std::vector<Neighbour>> outgoing;
    std::vector<std::vector<Neighbour>> incoming;
    // Empty: no reversals (see allowReversals).
    std::vector<std::int64_t> reversalPotentials;
};

// For each row, the positions of its `perRow` arcs of least reduced cost, as
// LocalSearch takes them; the row's whole list is scanned. For graphs whose
// presolve kept no sparse core of cheap arcs.
std::vector<std::vector<Node>> cheapestReducedCostArcs(const Graph& graph,
                                                       const std::vector<std::int64_t>& rowDuals,
                                                       const std::vector<std::int64_t>& columnDuals,
                                                       std::size_t perRow);

}  // namespace atsp
