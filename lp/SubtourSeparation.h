// Separation of the ATSP's subtour-elimination cuts x(out of S) >= 1, exactly.
//
// Definitions. The cities are 0..n-1; the support is a list of arcs (i, j)
// with LP values x(i, j) > 0. For a set S of cities, x(out of S) sums x over
// the given arcs with tail in S and head outside it, x(into S) over those with
// head in S and tail outside. A nonempty proper S is violated when
// x(out of S) < 1 - tolerance. The imbalance D is the sum over the cities of
// the positive parts of outdegree - indegree: 0 when the degree equations
// hold, and |x(out of S) - x(into S)| <= D for every S, since
// x(out of S) - x(into S) = sum over i in S of that excess.
//
// Method. With symmetric weights w(i, j) = x(i, j) + x(j, i) a cut weighs
// w(S) = x(out of S) + x(into S), and one of its sides has outflow at most
// w(S) / 2. exact() finds a global minimum cut of w by Stoer-Wagner: each
// maximum adjacency phase yields the cut of its last vertex t, the lightest
// cut between t and the vertex s before it, and merges s and t. It also
// contracts, losing no minimum cut:
//  - every edge whose far end's attachment reached T = 2 (1 - tolerance)
//    during a phase: no cut lighter than T separates its ends
//    (Nagamochi-Ibaraki);
//  - a vertex B into a neighbour A when w(A, B) >= w(B) / 2, having kept the
//    cut of B itself: moving B to A's side never makes a cut heavier
//    (Padberg-Rinaldi). This collapses the paths of arcs with x = 1.
// Every cut of a phase or of such a B lighter than T is measured on the arcs
// given and reported from the smaller side (by cities; with equal halves the
// one holding city 0) if its outflow is below 1 - tolerance, else from the
// other side if that one's is.
//
// Guarantee. A set with x(out of S) < 1 - tolerance - D / 2 weighs less than
// T, hence so does the minimum cut, and a side of it is reported: then at
// least one cut is reported, the least outflow reported exceeding the least of
// all sets by at most D. None reported proves x(out of S) >=
// 1 - tolerance - D / 2 for every S. Every cut reported is violated as
// measured. With the LP's degree equations met to 1e-9, D is about n 1e-9.
//
// Cost of one call, n cities and m arcs: O(n + m) to load, and per phase
// O(m log n) to order and O(n + m) to contract; at most n - 1 phases, so
// O(n m log n) at worst. Padberg-Rinaldi leaves few phases where most arcs
// have x = 1; on fully fractional supports n / 4 to n / 3 remain. Plus
// O(n log n) to measure and report each cut lighter than T.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace atsp {

struct SupportArc {
    std::uint32_t tail;
    std::uint32_t head;
    // x(tail, head). Arcs with value <= 0 and loops (tail == head) are
    // ignored: they leave no set. Repeated arcs add up.
    double value;
};

struct SubtourCut {
    std::vector<std::uint32_t> cities;  // S: sorted ascending, nonempty, proper
    double outflow;                     // x(out of S), summed over the arcs given
};

// Keeps its working storage between calls, so that separating at every node
// of a search allocates little; one object per thread.
class SubtourSeparation {
  public:
    explicit SubtourSeparation(std::size_t cityCount);

    std::size_t cityCount() const { return cityCount_; }

    // The connected components of the support graph, ignoring arc directions,
    // ordered by least city, when there are at least two; each has outflow 0.
    // None for a connected support. O(n + m).
    std::vector<SubtourCut> components(std::span<const SupportArc> arcs);

    // Violated cuts as described above, ordered by outflow, then size, then
    // cities; no set twice. A support with several components gives exactly
    // those; otherwise no set comes with its complement. Throws
    // std::invalid_argument for a city out of range or a NaN tolerance.
    std::vector<SubtourCut> exact(std::span<const SupportArc> arcs, double tolerance);

  private:
    struct Edge {
        std::uint32_t a;
        std::uint32_t b;
        double weight;
    };
    struct Neighbour {
        std::uint32_t vertex;
        double weight;
    };

    void loadSupport(std::span<const SupportArc> arcs);
    std::vector<SubtourCut> loadedComponents();

    void startContraction();
    void aggregateEdges(std::uint32_t vertexCount);
    void resetUnions();
    std::uint32_t find(std::uint32_t vertex);
    void unite(std::uint32_t first, std::uint32_t second);
    void contract();
    bool contractDominated(double threshold);
    void maximumAdjacencyPhase(double threshold);
    void raiseInHeap(std::uint32_t vertex);
    std::uint32_t popHeap();
    void keepCandidate(std::uint32_t vertex);
    std::vector<SubtourCut> measureCandidates(double tolerance);
    std::uint32_t nextStamp();

    std::size_t cityCount_;

    // The support, loops and nonpositive values dropped, by tail and by head.
    std::vector<std::uint32_t> outStart_, outHead_, inStart_, inTail_;
    std::vector<double> outValue_, inValue_;

    // The contracted symmetric graph: vertexCount_ vertices, each a set of
    // cities kept as a linked list, and its edges, each pair once, a < b.
    std::uint32_t vertexCount_ = 0;
    std::vector<Edge> edges_;
    std::vector<std::uint32_t> adjacencyStart_;
    std::vector<Neighbour> adjacency_;
    std::vector<double> degree_;
    std::vector<std::uint32_t> firstMember_, lastMember_, nextMember_;

    // Contractions decided but not yet carried out, over the current vertices.
    std::vector<std::uint32_t> parent_;

    // Scratch.
    std::vector<Edge> edgeScratch_, edgeBuckets_;
    std::vector<std::uint32_t> bucketStart_, slotOwner_, slot_, newId_;
    std::vector<std::uint32_t> newFirst_, newLast_;
    std::vector<double> key_;
    std::vector<char> flag_;
    std::vector<std::uint32_t> heap_, heapPosition_;
    std::vector<std::uint32_t> mark_;
    std::uint32_t stamp_ = 0;

    // Sets of cities whose cut weighed less than the threshold, back to back.
    std::vector<std::uint32_t> candidateCities_;
    std::vector<std::size_t> candidateStart_;
};

}  // namespace atsp
