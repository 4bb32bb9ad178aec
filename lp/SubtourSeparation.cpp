#include "lp/SubtourSeparation.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace atsp {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

bool cutOrder(const SubtourCut& first, const SubtourCut& second) {
    if (first.outflow != second.outflow) {
        return first.outflow < second.outflow;
    }
    if (first.cities.size() != second.cities.size()) {
        return first.cities.size() < second.cities.size();
    }
    return first.cities < second.cities;
}

}  // namespace

SubtourSeparation::SubtourSeparation(std::size_t cityCount) : cityCount_(cityCount) {
    // kNone marks the end of a member list and an unset slot.
    if (cityCount >= kNone) {
        throw std::invalid_argument("SubtourSeparation: too many cities");
    }
}

std::vector<SubtourCut> SubtourSeparation::components(std::span<const SupportArc> arcs) {
    loadSupport(arcs);
    return loadedComponents();
}

std::vector<SubtourCut> SubtourSeparation::exact(std::span<const SupportArc> arcs,
                                                 double tolerance) {
    if (std::isnan(tolerance)) {
        throw std::invalid_argument("SubtourSeparation: tolerance is NaN");
    }
    loadSupport(arcs);
    std::vector<SubtourCut> cuts = loadedComponents();
    if (!cuts.empty()) {
        // Outflow 0 each: the strongest cuts there are.
        if (!(0.0 < 1.0 - tolerance)) {
            cuts.clear();
        }
        return cuts;
    }
    candidateCities_.clear();
    candidateStart_.assign(1, 0);
    const double threshold = 2.0 * (1.0 - tolerance);
    if (cityCount_ >= 2 && threshold > 0.0) {
        startContraction();
        while (vertexCount_ > 1) {
            if (!contractDominated(threshold)) {
                maximumAdjacencyPhase(threshold);
            }
            contract();
        }
    }
    return measureCandidates(tolerance);
}

void SubtourSeparation::loadSupport(std::span<const SupportArc> arcs) {
    const std::size_t n = cityCount_;
    outStart_.assign(n + 1, 0);
    inStart_.assign(n + 1, 0);
    for (const SupportArc& arc : arcs) {
        if (arc.tail >= n || arc.head >= n) {
            throw std::invalid_argument("SubtourSeparation: arc (" + std::to_string(arc.tail) +
                                        ", " + std::to_string(arc.head) + ") with " +
                                        std::to_string(n) + " cities");
        }
        if (arc.tail != arc.head && arc.value > 0.0) {
            ++outStart_[arc.tail + 1];
            ++inStart_[arc.head + 1];
        }
    }
    for (std::size_t city = 0; city < n; ++city) {
        outStart_[city + 1] += outStart_[city];
        inStart_[city + 1] += inStart_[city];
    }
    const std::size_t count = outStart_[n];
    outHead_.resize(count);
    outValue_.resize(count);
    inTail_.resize(count);
    inValue_.resize(count);
    // Filled by advancing each city's start to its end, then shifted back:
    // every list keeps the arcs' input order.
    for (const SupportArc& arc : arcs) {
        if (arc.tail != arc.head && arc.value > 0.0) {
            const std::uint32_t out = outStart_[arc.tail]++;
            outHead_[out] = arc.head;
            outValue_[out] = arc.value;
            const std::uint32_t in = inStart_[arc.head]++;
            inTail_[in] = arc.tail;
            inValue_[in] = arc.value;
        }
    }
    for (std::size_t city = n; city > 0; --city) {
        outStart_[city] = outStart_[city - 1];
        inStart_[city] = inStart_[city - 1];
    }
    outStart_[0] = 0;
    inStart_[0] = 0;
}

std::vector<SubtourCut> SubtourSeparation::loadedComponents() {
    const std::uint32_t n = static_cast<std::uint32_t>(cityCount_);
    vertexCount_ = n;
    resetUnions();
    for (std::uint32_t city = 0; city < n; ++city) {
        for (std::uint32_t arc = outStart_[city]; arc < outStart_[city + 1]; ++arc) {
            unite(city, outHead_[arc]);
        }
    }
    newId_.assign(n, kNone);
    std::vector<SubtourCut> cuts;
    for (std::uint32_t city = 0; city < n; ++city) {
        std::uint32_t& id = newId_[find(city)];
        if (id == kNone) {
            id = static_cast<std::uint32_t>(cuts.size());
            cuts.push_back({{}, 0.0});
        }
        // Ascending, as the cities are visited in order.
        cuts[id].cities.push_back(city);
    }
    if (cuts.size() < 2) {
        cuts.clear();
    }
    return cuts;
}

void SubtourSeparation::startContraction() {
    const std::uint32_t n = static_cast<std::uint32_t>(cityCount_);
    firstMember_.resize(n);
    lastMember_.resize(n);
    nextMember_.assign(n, kNone);
    for (std::uint32_t city = 0; city < n; ++city) {
        firstMember_[city] = city;
        lastMember_[city] = city;
    }
    edgeScratch_.clear();
    for (std::uint32_t city = 0; city < n; ++city) {
        for (std::uint32_t arc = outStart_[city]; arc < outStart_[city + 1]; ++arc) {
            edgeScratch_.push_back({city, outHead_[arc], outValue_[arc]});
        }
    }
    aggregateEdges(n);
}

// Turns edgeScratch_ (no loops; any orientation; pairs repeated) into
// edges_ (each pair once, a < b, weights summed), the degrees and the
// adjacency lists, in O(vertexCount + edges) by a bucket pass over a.
void SubtourSeparation::aggregateEdges(std::uint32_t vertexCount) {
    vertexCount_ = vertexCount;
    bucketStart_.assign(vertexCount + 1, 0);
    for (Edge& edge : edgeScratch_) {
        if (edge.a > edge.b) {
            std::swap(edge.a, edge.b);
        }
        ++bucketStart_[edge.a + 1];
    }
    for (std::uint32_t vertex = 0; vertex < vertexCount; ++vertex) {
        bucketStart_[vertex + 1] += bucketStart_[vertex];
    }
    edgeBuckets_.resize(edgeScratch_.size());
    for (const Edge& edge : edgeScratch_) {
        edgeBuckets_[bucketStart_[edge.a]++] = edge;
    }
    // bucketStart_[a] is now the end of a's bucket, the start of a + 1's.
    edges_.clear();
    slotOwner_.assign(vertexCount, kNone);
    slot_.resize(vertexCount);
    std::uint32_t begin = 0;
    for (std::uint32_t a = 0; a < vertexCount; ++a) {
        const std::uint32_t end = bucketStart_[a];
        for (std::uint32_t position = begin; position < end; ++position) {
            const Edge& edge = edgeBuckets_[position];
            if (slotOwner_[edge.b] == a) {
                edges_[slot_[edge.b]].weight += edge.weight;
            } else {
                slotOwner_[edge.b] = a;
                slot_[edge.b] = static_cast<std::uint32_t>(edges_.size());
                edges_.push_back(edge);
            }
        }
        begin = end;
    }

    degree_.assign(vertexCount, 0.0);
    adjacencyStart_.assign(vertexCount + 1, 0);
    for (const Edge& edge : edges_) {
        degree_[edge.a] += edge.weight;
        degree_[edge.b] += edge.weight;
        ++adjacencyStart_[edge.a + 1];
        ++adjacencyStart_[edge.b + 1];
    }
    for (std::uint32_t vertex = 0; vertex < vertexCount; ++vertex) {
        adjacencyStart_[vertex + 1] += adjacencyStart_[vertex];
    }
    adjacency_.resize(2 * edges_.size());
    for (const Edge& edge : edges_) {
        adjacency_[adjacencyStart_[edge.a]++] = {edge.b, edge.weight};
        adjacency_[adjacencyStart_[edge.b]++] = {edge.a, edge.weight};
    }
    for (std::uint32_t vertex = vertexCount; vertex > 0; --vertex) {
        adjacencyStart_[vertex] = adjacencyStart_[vertex - 1];
    }
    adjacencyStart_[0] = 0;
    resetUnions();
}

void SubtourSeparation::resetUnions() {
    parent_.resize(vertexCount_);
    for (std::uint32_t vertex = 0; vertex < vertexCount_; ++vertex) {
        parent_[vertex] = vertex;
    }
}

std::uint32_t SubtourSeparation::find(std::uint32_t vertex) {
    while (parent_[vertex] != vertex) {
        parent_[vertex] = parent_[parent_[vertex]];
        vertex = parent_[vertex];
    }
    return vertex;
}

void SubtourSeparation::unite(std::uint32_t first, std::uint32_t second) {
    parent_[find(first)] = find(second);
}

// Carries out the unions decided since the last aggregation: the vertices of
// a union become one, numbered by the order of their least member vertex.
void SubtourSeparation::contract() {
    const std::uint32_t oldCount = vertexCount_;
    newId_.assign(oldCount, kNone);
    std::uint32_t newCount = 0;
    for (std::uint32_t vertex = 0; vertex < oldCount; ++vertex) {
        std::uint32_t& id = newId_[find(vertex)];
        if (id == kNone) {
            id = newCount++;
        }
    }
    newFirst_.assign(newCount, kNone);
    newLast_.assign(newCount, kNone);
    for (std::uint32_t vertex = 0; vertex < oldCount; ++vertex) {
        const std::uint32_t id = newId_[find(vertex)];
        if (newFirst_[id] == kNone) {
            newFirst_[id] = firstMember_[vertex];
        } else {
            nextMember_[newLast_[id]] = firstMember_[vertex];
        }
        newLast_[id] = lastMember_[vertex];
    }
    firstMember_.swap(newFirst_);
    lastMember_.swap(newLast_);

    edgeScratch_.clear();
    for (const Edge& edge : edges_) {
        const std::uint32_t a = newId_[find(edge.a)];
        const std::uint32_t b = newId_[find(edge.b)];
        if (a != b) {
            edgeScratch_.push_back({a, b, edge.weight});
        }
    }
    aggregateEdges(newCount);
}

// Padberg-Rinaldi: for any cut S with A in S and B outside, S + B weighs
// w(S) + w(B) - 2 w(B, S) <= w(S) when 2 w(A, B) >= w(B), unless S + B is
// everything, i.e. the cut is that of B, kept here. So merging B into A keeps
// a lightest cut. Unions within one pass compose as long as every B moved is
// still a vertex of its own, whose degree and edges are those measured; the
// side it joins only grows, which keeps w(A, B) a lower bound.
bool SubtourSeparation::contractDominated(double threshold) {
    flag_.assign(vertexCount_, 1);  // still a vertex of its own
    bool contracted = false;
    for (const Edge& edge : edges_) {
        if (find(edge.a) == find(edge.b)) {
            continue;
        }
        std::uint32_t moved = kNone;
        if (flag_[edge.b] && 2.0 * edge.weight >= degree_[edge.b]) {
            moved = edge.b;
        } else if (flag_[edge.a] && 2.0 * edge.weight >= degree_[edge.a]) {
            moved = edge.a;
        }
        if (moved == kNone) {
            continue;
        }
        if (degree_[moved] < threshold) {
            keepCandidate(moved);
        }
        unite(edge.a, edge.b);
        flag_[edge.a] = 0;
        flag_[edge.b] = 0;
        contracted = true;
    }
    return contracted;
}

// One maximum adjacency ordering from vertex 0. The attachment key(u) of an
// unscanned u to the scanned set is a lower bound on the connectivity between
// u and the vertex just scanned: in the subgraph of the scanned vertices and u
// the ordering is again a maximum adjacency ordering, ending in those two,
// whose cut of the phase is key(u).
void SubtourSeparation::maximumAdjacencyPhase(double threshold) {
    key_.assign(vertexCount_, 0.0);
    flag_.assign(vertexCount_, 0);  // scanned
    heapPosition_.assign(vertexCount_, kNone);
    heap_.clear();
    raiseInHeap(0);
    std::uint32_t previous = kNone;
    std::uint32_t last = kNone;
    while (!heap_.empty()) {
        const std::uint32_t vertex = popHeap();
        flag_[vertex] = 1;
        previous = last;
        last = vertex;
        for (std::uint32_t position = adjacencyStart_[vertex];
             position < adjacencyStart_[vertex + 1]; ++position) {
            const Neighbour& neighbour = adjacency_[position];
            if (flag_[neighbour.vertex]) {
                continue;
            }
            double& attachment = key_[neighbour.vertex];
            attachment += neighbour.weight;
            if (attachment >= threshold) {
                unite(vertex, neighbour.vertex);
            }
            raiseInHeap(neighbour.vertex);
        }
    }
    // Contraction keeps the graph connected, and it starts so: all scanned.
    assert(static_cast<std::size_t>(std::count(flag_.begin(), flag_.end(), 1)) == vertexCount_);
    // key(last) is its whole degree, the cut of the phase: the lightest one
    // between `last` and `previous`.
    if (key_[last] < threshold) {
        keepCandidate(last);
    }
    unite(previous, last);
}

// A binary max-heap on key_ over the vertices reached and not yet scanned;
// heapPosition_ is each one's index in it, kNone outside.
void SubtourSeparation::raiseInHeap(std::uint32_t vertex) {
    std::size_t index = heapPosition_[vertex];
    if (index == kNone) {
        index = heap_.size();
        heap_.push_back(vertex);
    }
    const double key = key_[vertex];
    while (index > 0) {
        const std::size_t parent = (index - 1) / 2;
        if (key_[heap_[parent]] >= key) {
            break;
        }
        heap_[index] = heap_[parent];
        heapPosition_[heap_[index]] = static_cast<std::uint32_t>(index);
        index = parent;
    }
    heap_[index] = vertex;
    heapPosition_[vertex] = static_cast<std::uint32_t>(index);
}

std::uint32_t SubtourSeparation::popHeap() {
    const std::uint32_t top = heap_.front();
    heapPosition_[top] = kNone;
    const std::uint32_t moved = heap_.back();
    heap_.pop_back();
    const std::size_t size = heap_.size();
    if (size == 0) {
        return top;
    }
    const double key = key_[moved];
    std::size_t index = 0;
    for (;;) {
        std::size_t child = 2 * index + 1;
        if (child >= size) {
            break;
        }
        if (child + 1 < size && key_[heap_[child + 1]] > key_[heap_[child]]) {
            ++child;
        }
        if (key_[heap_[child]] <= key) {
            break;
        }
        heap_[index] = heap_[child];
        heapPosition_[heap_[index]] = static_cast<std::uint32_t>(index);
        index = child;
    }
    heap_[index] = moved;
    heapPosition_[moved] = static_cast<std::uint32_t>(index);
    return top;
}

void SubtourSeparation::keepCandidate(std::uint32_t vertex) {
    for (std::uint32_t city = firstMember_[vertex]; city != kNone; city = nextMember_[city]) {
        candidateCities_.push_back(city);
    }
    candidateStart_.push_back(candidateCities_.size());
}

std::uint32_t SubtourSeparation::nextStamp() {
    if (mark_.size() != cityCount_ || stamp_ == kNone) {
        mark_.assign(cityCount_, 0);
        stamp_ = 0;
    }
    return ++stamp_;
}

// Each candidate and its complement are distinct from all other candidates
// and their complements: a candidate is a vertex of the contracted graph at
// the time, united with another vertex right after, so the later vertices
// either contain both or neither.
std::vector<SubtourCut> SubtourSeparation::measureCandidates(double tolerance) {
    const double limit = 1.0 - tolerance;
    std::vector<SubtourCut> cuts;
    for (std::size_t candidate = 0; candidate + 1 < candidateStart_.size(); ++candidate) {
        const auto begin =
            candidateCities_.begin() + static_cast<std::ptrdiff_t>(candidateStart_[candidate]);
        const auto end =
            candidateCities_.begin() + static_cast<std::ptrdiff_t>(candidateStart_[candidate + 1]);
        const std::uint32_t stamp = nextStamp();
        for (auto city = begin; city != end; ++city) {
            mark_[*city] = stamp;
        }
        double out = 0.0;
        double in = 0.0;  // the outflow of the complement
        for (auto city = begin; city != end; ++city) {
            for (std::uint32_t arc = outStart_[*city]; arc < outStart_[*city + 1]; ++arc) {
                if (mark_[outHead_[arc]] != stamp) {
                    out += outValue_[arc];
                }
            }
            for (std::uint32_t arc = inStart_[*city]; arc < inStart_[*city + 1]; ++arc) {
                if (mark_[inTail_[arc]] != stamp) {
                    in += inValue_[arc];
                }
            }
        }
        const std::size_t size = static_cast<std::size_t>(end - begin);
        const std::size_t rest = cityCount_ - size;
        const bool smaller = size < rest || (size == rest && mark_[0] == stamp);
        bool inside;
        if (smaller ? out < limit : in < limit) {
            inside = smaller;
        } else if (smaller ? in < limit : out < limit) {
            inside = !smaller;
        } else {
            continue;
        }
        SubtourCut cut{{}, inside ? out : in};
        if (inside) {
            cut.cities.assign(begin, end);
            std::sort(cut.cities.begin(), cut.cities.end());
        } else {
            cut.cities.reserve(rest);
            for (std::uint32_t city = 0; city < cityCount_; ++city) {
                if (mark_[city] != stamp) {
                    cut.cities.push_back(city);
                }
            }
        }
        cuts.push_back(std::move(cut));
    }
    std::sort(cuts.begin(), cuts.end(), cutOrder);
    return cuts;
}

}  // namespace atsp
