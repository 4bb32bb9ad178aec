#include "AssignmentProblem/AssignmentProblem.h"

#include <algorithm>
#include <cstddef>
#include <functional>

#include "AssignmentProblem/AlternatingTree.h"

namespace {

// An infinite slack, and the dual of a column that had no incoming arc.
constexpr std::int64_t Unbounded = InfeasibleBound;

// The marks a problem without a mask tests its arcs against: all 0, below
// every stamp, so nothing is blocked. Zero-initialised and never written.
ArcMask::Stamp noMarks[65536];

}  // namespace

// The work arrays of one solve (allocated once per call, reused by every
// augmentation) and the steps that use them. It works on the problem's
// assignment and duals in place.
class AssignmentProblem::HungarianSolve {
  public:
    explicit HungarianSolve(AssignmentProblem& problem)
        : problem(problem),
          successors(*problem.graph),
          arcCosts(*problem.costs),
          mask(problem.mask),
          marks(mask != nullptr ? mask->marks() : noMarks),
          dualX(problem.dualX),
          dualY(problem.dualY),
          n(static_cast<Node>(successors.size())),
          columnRow(n, NoNode),
          queue(n),
          slack(n),
          slackRow(n),
          slackArc(n),
          reachArc(n),
          visited(n) {
        visitedColumns.reserve(n);
    }

    void prepareFromScratch();
    void prepareIncremental();

    // Assigns `root` along one augmenting path; false when no free column can
    // be reached from it.
    bool augmentFrom(Node root);

  private:
    // The end of an augmenting path: a tree row, the free column it reaches,
    // and the position of that arc in the row's list.
    struct PathEnd {
        Node row = NoNode;
        Node column = NoNode;
        Node arc = NoNode;
        bool found() const { return column != NoNode; }
    };

    // The row's arc positions to visit, and the stamp against which each
    // arc's column is tested (`marks[column] >= stamp`: blocked).
    ArcMask::RowScan arcsOf(Node row) const {
        if (mask != nullptr) {
            return mask->scan(row, successors[row].size());
        }
        return {0, successors[row].size(), 1};
    }

    void plantTree(Node root);
    PathEnd growTree(AlternatingTree& tree);
    std::int64_t leastSlackOutsideTree();
    PathEnd scanZeroSlackColumns(AlternatingTree& tree);
    void visit(Node column, Node arc);
    void enterTree(AlternatingTree& tree, Node row, Node parent);
    void enqueueAndLowerSlacks(Node row);
    void settleDuals();
    void flipPath(const AlternatingTree& tree, PathEnd end);

    AssignmentProblem& problem;
    const SuccessorLists& successors;
    const ArcCosts& arcCosts;
    const ArcMask* const mask;
    const ArcMask::Stamp* const marks;
    std::vector<std::int64_t>& dualX;
    std::vector<std::int64_t>& dualY;
    const Node n;

    // A tree row waiting for its tight arcs to be followed. The duals do not
    // move between a row's entry and its turn in the queue, and visited
    // columns stay visited, so its tight arcs into unvisited columns at its
    // turn all lie among those it had on entry: in the arc positions
    // [firstTightArc, tightArcsEnd) of its list, found while its slacks were
    // lowered. The search follows only that range, in list order, instead of
    // passing over all the row's arcs a second time. `deltaAtEntry` is the
    // sum of dual updates made before the row entered the tree.
    struct QueuedRow {
        Node row;
        Node firstTightArc;
        Node tightArcsEnd;
        std::int64_t deltaAtEntry;
    };
    struct VisitedColumn {
        Node column;
        std::int64_t deltaAtVisit;
    };

    std::vector<Node> columnRow;  // row holding column j, or NoNode
    // FIFO of tree rows in the order they entered. It is not rewound between
    // the searches of one root, so queue[0, queueEnd) is also the list of all
    // tree rows (each enters once), whose duals settleDuals raises.
    std::vector<QueuedRow> queue;
    std::size_t queueNext = 0;
    std::size_t queueEnd = 0;
    // The sum of the dual updates of this augmentation so far: tree rows owe
    // it (less their deltaAtEntry) to their duals, tree columns likewise.
    std::int64_t totalDelta = 0;
    // slack[j] - totalDelta is the least reduced cost of an arc from a tree
    // row into column j; Unbounded when there is none or j is in the tree.
    std::vector<std::int64_t> slack;
    std::vector<Node> slackRow;         // first tree row that attained the slack
    std::vector<Node> slackArc;         // position of that arc in slackRow's list
    std::vector<Node> reachArc;         // position, in its parent row, of the arc that reached j
    std::vector<std::uint8_t> visited;  // column j reached by the current tree
    std::vector<VisitedColumn> visitedColumns;
    // The columns at zero slack after a dual update, lowest first, and those
    // that rows entering during the scan bring to zero behind the scan's
    // place (a min-heap).
    std::vector<Node> zeroSlackColumns;
    std::vector<Node> laterZeroSlackColumns;
    bool scanningZeroSlack = false;
    Node scanColumn = 0;
};

void AssignmentProblem::HungarianSolve::prepareFromScratch() {
    std::fill(problem.assignment.begin(), problem.assignment.end(), NoNode);
    std::fill(problem.assignedArcs.begin(), problem.assignedArcs.end(), NoNode);
    for (Node i = 0; i < n; ++i) {
        const ArcMask::RowScan arcs = arcsOf(i);
        const Node* heads = successors[i].data();
        const std::int32_t* rowCosts = arcCosts[i].data();
        // A row without arcs has no minimum; 0 is as good as any, since that
        // row ends the solve as infeasible before its dual is used.
        std::int64_t leastCost = Unbounded;
        for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
            if (marks[heads[k]] < arcs.stamp) {
                leastCost = std::min<std::int64_t>(leastCost, rowCosts[k]);
            }
        }
        dualX[i] = leastCost == Unbounded ? 0 : leastCost;
    }
    std::fill(dualY.begin(), dualY.end(), Unbounded);
    for (Node i = 0; i < n; ++i) {
        const ArcMask::RowScan arcs = arcsOf(i);
        const Node* heads = successors[i].data();
        const std::int32_t* rowCosts = arcCosts[i].data();
        for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
            if (marks[heads[k]] < arcs.stamp) {
                dualY[heads[k]] = std::min(dualY[heads[k]], rowCosts[k] - dualX[i]);
            }
        }
    }
}

// Kept rows keep column, dual and tight arc; column duals do not move. A freed
// row's dual becomes its least cost net of column duals, which leaves all its
// reduced costs non-negative and at least one of them 0. Lowering column duals
// instead would loosen the arcs that kept rows hold and could end the re-solve
// above the optimum. A row without usable arcs keeps its dual; it ends the
// solve as infeasible when it becomes a root.
void AssignmentProblem::HungarianSolve::prepareIncremental() {
    for (Node i = 0; i < n; ++i) {
        const Node column = problem.assignment[i];
        if (column != NoNode) {
            columnRow[column] = i;
            continue;
        }
        const ArcMask::RowScan arcs = arcsOf(i);
        const Node* heads = successors[i].data();
        const std::int32_t* rowCosts = arcCosts[i].data();
        std::int64_t leastNetCost = Unbounded;
        for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
            // An unbounded column dual gives no finite bound (see the header).
            if (marks[heads[k]] < arcs.stamp && dualY[heads[k]] != Unbounded) {
                leastNetCost = std::min(leastNetCost, rowCosts[k] - dualY[heads[k]]);
            }
        }
        if (leastNetCost != Unbounded) {
            dualX[i] = leastNetCost;
        }
    }
}

bool AssignmentProblem::HungarianSolve::augmentFrom(Node root) {
    AlternatingTree tree(n, root);
    plantTree(root);
    for (;;) {
        PathEnd end = growTree(tree);
        if (!end.found()) {
            const std::int64_t delta = leastSlackOutsideTree();
            if (delta == Unbounded) {
                settleDuals();
                return false;
            }
            totalDelta += delta;
            end = scanZeroSlackColumns(tree);
        }
        if (end.found()) {
            settleDuals();
            flipPath(tree, end);
            return true;
        }
    }
}

void AssignmentProblem::HungarianSolve::plantTree(Node root) {
    for (const VisitedColumn& column : visitedColumns) {
        visited[column.column] = 0;
    }
    visitedColumns.clear();
    std::fill(slack.begin(), slack.end(), Unbounded);
    totalDelta = 0;
    queueNext = 0;
    queueEnd = 0;
    // With every slack still unbounded, lowering sets each to the root's
    // reduced cost.
    enqueueAndLowerSlacks(root);
}

// Follows tight arcs out of the queued rows, in queue and list order, until a
// free column turns up or the queue runs dry.
AssignmentProblem::HungarianSolve::PathEnd AssignmentProblem::HungarianSolve::growTree(
    AlternatingTree& tree) {
    while (queueNext < queueEnd) {
        const QueuedRow queued = queue[queueNext++];
        const Node* heads = successors[queued.row].data();
        const std::int32_t* rowCosts = arcCosts[queued.row].data();
        const std::int64_t rowDual = dualX[queued.row];
        // A stamp holds until the next scan: other rows' scans since its
        // entry, and each row entering below, re-mark columns.
        ArcMask::Stamp stamp = arcsOf(queued.row).stamp;
        for (std::size_t k = queued.firstTightArc; k < queued.tightArcsEnd; ++k) {
            const Node column = heads[k];
            // Written as a difference so that an unbounded column dual never
            // compares equal and never overflows.
            if (visited[column] || marks[column] >= stamp ||
                rowCosts[k] - rowDual != dualY[column]) {
                continue;
            }
            if (columnRow[column] == NoNode) {
                return {queued.row, column, static_cast<Node>(k)};
            }
            visit(column, static_cast<Node>(k));
            enterTree(tree, columnRow[column], queued.row);
            stamp = arcsOf(queued.row).stamp;
        }
    }
    return {};
}

// The least slack of a column outside the tree, and the columns that attain
// it in increasing order. Columns in the tree hold an unbounded slack, so the
// pass needs no other test.
std::int64_t AssignmentProblem::HungarianSolve::leastSlackOutsideTree() {
    std::int64_t least = Unbounded;
    zeroSlackColumns.clear();
    const std::int64_t* slacks = slack.data();
    for (Node j = 0; j < n; ++j) {
        const std::int64_t columnSlack = slacks[j];
        if (columnSlack > least) {
            continue;
        }
        if (columnSlack < least) {
            least = columnSlack;
            zeroSlackColumns.clear();
        }
        if (columnSlack != Unbounded) {
            zeroSlackColumns.push_back(j);
        }
    }
    return least == Unbounded ? Unbounded : least - totalDelta;
}

// Takes the columns the dual update made reachable, lowest number first. Rows
// entering here may bring higher columns to zero slack within the same scan
// (they join the scan); lower ones are found by the next growTree, which
// starts at these rows.
AssignmentProblem::HungarianSolve::PathEnd AssignmentProblem::HungarianSolve::scanZeroSlackColumns(
    AlternatingTree& tree) {
    const auto later = std::greater<Node>();
    laterZeroSlackColumns.clear();
    scanningZeroSlack = true;
    std::size_t next = 0;
    PathEnd end;
    for (;;) {
        const bool fromList = next < zeroSlackColumns.size();
        const bool fromHeap = !laterZeroSlackColumns.empty();
        if (!fromList && !fromHeap) {
            break;
        }
        Node j;
        if (fromHeap && (!fromList || laterZeroSlackColumns.front() < zeroSlackColumns[next])) {
            std::pop_heap(laterZeroSlackColumns.begin(), laterZeroSlackColumns.end(), later);
            j = laterZeroSlackColumns.back();
            laterZeroSlackColumns.pop_back();
        } else {
            j = zeroSlackColumns[next++];
        }
        scanColumn = j;
        if (columnRow[j] == NoNode) {
            end = {slackRow[j], j, slackArc[j]};
            break;
        }
        visit(j, slackArc[j]);
        if (!tree.contains(columnRow[j])) {
            enterTree(tree, columnRow[j], slackRow[j]);
        }
    }
    scanningZeroSlack = false;
    return end;
}

void AssignmentProblem::HungarianSolve::visit(Node column, Node arc) {
    visited[column] = 1;
    reachArc[column] = arc;
    slack[column] = Unbounded;
    visitedColumns.push_back({column, totalDelta});
}

void AssignmentProblem::HungarianSolve::enterTree(AlternatingTree& tree, Node row, Node parent) {
    tree.add(row, parent);
    enqueueAndLowerSlacks(row);
}

// The hot loop of a solve: one pass over the arcs of a row entering the tree,
// flat on raw pointers. The slack update is a branch rather than a select:
// after the first few rows of a tree a row seldom lowers a slack, so the
// branch is well predicted. Strictly less, so the first row to reach a slack
// keeps it. An unbounded column dual would overflow the reduced cost; such an
// arc counts as no arc (see the header). Columns in the tree are skipped:
// their slacks are never used again.
void AssignmentProblem::HungarianSolve::enqueueAndLowerSlacks(Node row) {
    const ArcMask::RowScan arcs = arcsOf(row);
    const Node* heads = successors[row].data();
    const std::int32_t* rowCosts = arcCosts[row].data();
    const std::int64_t rowDual = dualX[row];
    const std::int64_t shift = totalDelta;
    const std::int64_t* columnDuals = dualY.data();
    std::int64_t* columnSlacks = slack.data();
    const std::uint8_t* visitedColumn = visited.data();
    const ArcMask::Stamp* columnMarks = marks;
    const ArcMask::Stamp stamp = arcs.stamp;
    std::size_t firstTightArc = arcs.end;
    std::size_t tightArcsEnd = 0;
    for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
        const Node column = heads[k];
        if (visitedColumn[column] || columnMarks[column] >= stamp) {
            continue;
        }
        const std::int64_t columnDual = columnDuals[column];
        if (columnDual == Unbounded) {
            continue;
        }
        const std::int64_t reducedCost = rowCosts[k] - rowDual - columnDual;
        if (reducedCost + shift < columnSlacks[column]) {
            columnSlacks[column] = reducedCost + shift;
            slackRow[column] = row;
            slackArc[column] = static_cast<Node>(k);
            if (reducedCost == 0 && scanningZeroSlack && column > scanColumn) {
                laterZeroSlackColumns.push_back(column);
                std::push_heap(laterZeroSlackColumns.begin(), laterZeroSlackColumns.end(),
                               std::greater<Node>());
            }
        }
        if (reducedCost == 0) {
            firstTightArc = std::min(firstTightArc, k);
            tightArcsEnd = k + 1;
        }
    }
    queue[queueEnd++] = {row, static_cast<Node>(firstTightArc), static_cast<Node>(tightArcsEnd),
                         shift};
}

// Pays every tree row and tree column the dual updates made since it entered.
void AssignmentProblem::HungarianSolve::settleDuals() {
    for (std::size_t position = 0; position < queueEnd; ++position) {
        dualX[queue[position].row] += totalDelta - queue[position].deltaAtEntry;
    }
    for (const VisitedColumn& column : visitedColumns) {
        dualY[column.column] -= totalDelta - column.deltaAtVisit;
    }
}

// Each row on the path takes the column it was reached through and passes its
// old column up to its parent; the root, which had none, ends the walk.
void AssignmentProblem::HungarianSolve::flipPath(const AlternatingTree& tree, PathEnd end) {
    Node row = end.row;
    Node column = end.column;
    Node arc = end.arc;
    for (;;) {
        const Node previousColumn = problem.assignment[row];
        columnRow[column] = row;
        problem.assignment[row] = column;
        problem.assignedArcs[row] = arc;
        if (row == tree.root()) {
            return;
        }
        row = tree.parentOf(row);
        column = previousColumn;
        arc = reachArc[previousColumn];
    }
}

AssignmentProblem::AssignmentProblem(const SuccessorLists& graph, const ArcCosts& costs)
    : graph(&graph),
      costs(&costs),
      mask(nullptr),
      assignment(graph.size(), 0),
      assignedArcs(graph.size(), NoNode),
      dualX(graph.size(), 0),
      dualY(graph.size(), 0),
      infeasible(false) {}

void AssignmentProblem::setGraph(const SuccessorLists& graph, const ArcCosts& costs) {
    this->graph = &graph;
    this->costs = &costs;
}

void AssignmentProblem::solveHungarian(bool incremental) {
    HungarianSolve solve(*this);
    if (incremental) {
        solve.prepareIncremental();
    } else {
        solve.prepareFromScratch();
    }
    // Roots go lowest free row first. An augmentation assigns its root and
    // frees no row, so one upward pass meets every root in that order.
    const std::size_t n = graph->size();
    for (std::size_t root = 0; root < n; ++root) {
        if (assignment[root] == NoNode && !solve.augmentFrom(static_cast<Node>(root))) {
            infeasible = true;
            return;
        }
    }
}

bool AssignmentProblem::assignedArcCost(std::size_t row, std::int64_t& cost) const {
    const std::vector<Node>& heads = (*graph)[row];
    std::size_t position = assignedArcs[row];
    if (position >= heads.size() || heads[position] != assignment[row]) {
        position = static_cast<std::size_t>(std::find(heads.begin(), heads.end(), assignment[row]) -
                                            heads.begin());
        if (position == heads.size()) {
            return false;
        }
    }
    cost = (*costs)[row][position];
    return true;
}

std::int64_t AssignmentProblem::solutionValue() const {
    if (infeasible) {
        return InfeasibleBound;
    }
    std::int64_t value = 0;
    for (std::size_t i = 0; i < graph->size(); ++i) {
        std::int64_t arcCost = 0;
        if (assignedArcCost(i, arcCost)) {
            value += arcCost;
        }
    }
    return value;
}

void AssignmentProblem::removeArc(Node i, Node j) {
    if (assignment[i] == j) {
        assignment[i] = NoNode;
        assignedArcs[i] = NoNode;
    }
}

void AssignmentProblem::saveState(AssignmentState& state) const {
    state.assignedArcs = assignedArcs;
    state.columnDuals = dualY;
}

// Every assigned arc of a saved solve is tight, so dualX[i] + dualY[j] equals
// the arc's cost exactly.
void AssignmentProblem::restoreState(const AssignmentState& state) {
    assignment.resize(state.assignedArcs.size());  // it may have been moved out
    assignedArcs = state.assignedArcs;
    dualY = state.columnDuals;
    for (std::size_t i = 0; i < assignedArcs.size(); ++i) {
        const Node position = assignedArcs[i];
        assignment[i] = (*graph)[i][position];
        dualX[i] = (*costs)[i][position] - dualY[assignment[i]];
    }
    infeasible = false;
}

bool AssignmentProblem::certifiesOptimality() const {
    const std::size_t n = graph->size();
    if (infeasible || assignment.size() != n) {
        return false;
    }
    std::vector<std::uint8_t> columnTaken(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::vector<Node>& heads = (*graph)[i];
        const ArcMask::RowScan arcs = mask != nullptr
                                          ? mask->scan(static_cast<Node>(i), heads.size())
                                          : ArcMask::RowScan{0, heads.size(), 1};
        const ArcMask::Stamp* columnMarks = mask != nullptr ? mask->marks() : noMarks;
        bool assignedArcAllowed = false;
        for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
            if (columnMarks[heads[k]] >= arcs.stamp) {
                continue;
            }
            const std::int64_t reducedCost = (*costs)[i][k] - dualX[i] - dualY[heads[k]];
            if (reducedCost < 0) {
                return false;
            }
            if (heads[k] == assignment[i]) {
                assignedArcAllowed = reducedCost == 0;
            }
        }
        if (!assignedArcAllowed || assignment[i] >= n || columnTaken[assignment[i]]) {
            return false;
        }
        columnTaken[assignment[i]] = 1;
    }
    return true;
}

// Each cycle is walked once, from its lowest city, so among equally short
// cycles the one with the lowest city wins. A walk that leaves the assignment
// or meets a city of an earlier walk is no cycle (only possible on an
// incomplete assignment) and is dropped rather than followed.
std::pair<Node, Node> AssignmentProblem::findMinCycle() {
    const std::size_t cityCount = assignment.size();
    std::vector<std::uint8_t> onWalkedCycle(cityCount, 0);
    Node bestStart = 0;
    Node bestLength = NoNode;
    for (std::size_t start = 0; start < cityCount; ++start) {
        if (onWalkedCycle[start]) {
            continue;
        }
        Node city = assignment[start];
        Node length = 1;
        while (city < cityCount && !onWalkedCycle[city]) {
            onWalkedCycle[city] = 1;
            if (city == start) {
                break;
            }
            city = assignment[city];
            ++length;
        }
        if (city == start && length < bestLength) {
            bestLength = length;
            bestStart = static_cast<Node>(start);
        }
    }
    return {bestStart, bestLength};
}
