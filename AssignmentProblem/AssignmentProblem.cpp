#include "AssignmentProblem/AssignmentProblem.h"

#include <algorithm>
#include <cstddef>

#include "AssignmentProblem/AlternatingTree.h"

namespace {

// An infinite slack, and the dual of a column that had no incoming arc.
constexpr std::int64_t Unbounded = InfeasibleBound;

}  // namespace

// The five work arrays of one solve (allocated once per call, reused by every
// augmentation) and the steps that use them. It works on the problem's
// assignment and duals in place.
class AssignmentProblem::HungarianSolve {
  public:
    explicit HungarianSolve(AssignmentProblem& problem)
        : problem(problem),
          successors(*problem.graph),
          arcCosts(*problem.costs),
          dualX(problem.dualX),
          dualY(problem.dualY),
          n(static_cast<Node>(successors.size())),
          columnRow(n, NoNode),
          queue(n),
          slack(n),
          slackRow(n),
          visited(n) {}

    // The end of an augmenting path: a tree row and the free column it reaches.
    struct PathEnd {
        Node row = NoNode;
        Node column = NoNode;
        bool found() const { return column != NoNode; }
    };

    void prepareFromScratch();
    void prepareIncremental();

    // Assigns `root` along one augmenting path; false when no free column can
    // be reached from it.
    bool augmentFrom(Node root);

  private:
    void plantTree(Node root);
    PathEnd growTree(AlternatingTree& tree);
    std::int64_t leastSlackOutsideTree() const;
    void moveDuals(std::int64_t delta);
    PathEnd scanZeroSlackColumns(AlternatingTree& tree);
    void enterTree(AlternatingTree& tree, Node row, Node parent);
    void enqueueAndLowerSlacks(Node row);
    void flipPath(const AlternatingTree& tree, PathEnd end);

    AssignmentProblem& problem;
    const SuccessorLists& successors;
    const ArcCosts& arcCosts;
    std::vector<std::int64_t>& dualX;
    std::vector<std::int64_t>& dualY;
    const Node n;

    // A tree row waiting for its tight arcs to be followed. The duals do not
    // move between a row's entry and its turn in the queue, and visited
    // columns stay visited, so its tight arcs into unvisited columns at its
    // turn all lie among those it had on entry: in the arc positions
    // [firstTightArc, tightArcsEnd) of its list, found while its slacks were
    // lowered. The search follows only that range, in list order, instead of
    // passing over all the row's arcs a second time.
    struct QueuedRow {
        Node row;
        Node firstTightArc;
        Node tightArcsEnd;
    };

    std::vector<Node> columnRow;  // row holding column j, or NoNode
    // FIFO of tree rows in the order they entered. It is not rewound between
    // the searches of one root, so queue[0, queueEnd) is also the list of all
    // tree rows (each enters once), which the dual update walks instead of
    // testing all n rows.
    std::vector<QueuedRow> queue;
    std::size_t queueNext = 0;
    std::size_t queueEnd = 0;
    std::vector<std::int64_t> slack;    // least reduced cost from the tree into j
    std::vector<Node> slackRow;         // first tree row that attained slack[j]
    std::vector<std::uint8_t> visited;  // column j reached by the current tree
};

void AssignmentProblem::HungarianSolve::prepareFromScratch() {
    std::fill(problem.assignment.begin(), problem.assignment.end(), NoNode);
    for (Node i = 0; i < n; ++i) {
        const std::vector<std::int32_t>& rowCosts = arcCosts[i];
        // A row without arcs has no minimum; 0 is as good as any, since that
        // row ends the solve as infeasible before its dual is used.
        dualX[i] = rowCosts.empty() ? 0 : *std::min_element(rowCosts.begin(), rowCosts.end());
    }
    std::fill(dualY.begin(), dualY.end(), Unbounded);
    for (Node i = 0; i < n; ++i) {
        const std::vector<Node>& heads = successors[i];
        const std::vector<std::int32_t>& rowCosts = arcCosts[i];
        for (std::size_t k = 0; k < heads.size(); ++k) {
            dualY[heads[k]] = std::min(dualY[heads[k]], rowCosts[k] - dualX[i]);
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
        const std::vector<Node>& heads = successors[i];
        const std::vector<std::int32_t>& rowCosts = arcCosts[i];
        std::int64_t leastNetCost = Unbounded;
        for (std::size_t k = 0; k < heads.size(); ++k) {
            // An unbounded column dual gives no finite bound (see the header).
            if (dualY[heads[k]] != Unbounded) {
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
                return false;
            }
            moveDuals(delta);
            end = scanZeroSlackColumns(tree);
        }
        if (end.found()) {
            flipPath(tree, end);
            return true;
        }
    }
}

void AssignmentProblem::HungarianSolve::plantTree(Node root) {
    std::fill(visited.begin(), visited.end(), 0);
    std::fill(slack.begin(), slack.end(), Unbounded);
    std::fill(slackRow.begin(), slackRow.end(), root);
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
        for (std::size_t k = queued.firstTightArc; k < queued.tightArcsEnd; ++k) {
            const Node column = heads[k];
            // Written as a difference so that an unbounded column dual never
            // compares equal and never overflows.
            if (visited[column] || rowCosts[k] - rowDual != dualY[column]) {
                continue;
            }
            if (columnRow[column] == NoNode) {
                return {queued.row, column};
            }
            visited[column] = 1;
            enterTree(tree, columnRow[column], queued.row);
        }
    }
    return {};
}

std::int64_t AssignmentProblem::HungarianSolve::leastSlackOutsideTree() const {
    std::int64_t delta = Unbounded;
    for (Node j = 0; j < n; ++j) {
        if (!visited[j] && slack[j] < delta) {
            delta = slack[j];
        }
    }
    return delta;
}

void AssignmentProblem::HungarianSolve::moveDuals(std::int64_t delta) {
    for (std::size_t position = 0; position < queueEnd; ++position) {
        dualX[queue[position].row] += delta;
    }
    for (Node j = 0; j < n; ++j) {
        if (visited[j]) {
            dualY[j] -= delta;
        } else if (slack[j] != Unbounded) {
            slack[j] -= delta;
        }
    }
}

// Takes the columns the dual update made reachable, lowest number first. Rows
// entering here may bring higher columns to zero slack within the same scan;
// lower ones are found by the next growTree, which starts at these rows.
AssignmentProblem::HungarianSolve::PathEnd AssignmentProblem::HungarianSolve::scanZeroSlackColumns(
    AlternatingTree& tree) {
    for (Node j = 0; j < n; ++j) {
        if (visited[j] || slack[j] != 0) {
            continue;
        }
        if (columnRow[j] == NoNode) {
            return {slackRow[j], j};
        }
        visited[j] = 1;
        if (!tree.contains(columnRow[j])) {
            enterTree(tree, columnRow[j], slackRow[j]);
        }
    }
    return {};
}

void AssignmentProblem::HungarianSolve::enterTree(AlternatingTree& tree, Node row, Node parent) {
    tree.add(row, parent);
    enqueueAndLowerSlacks(row);
}

// The hot loop of a solve: one pass over the arcs of a row entering the tree,
// flat on raw pointers. The slack update is a branch rather than a select:
// after the first few rows of a tree a row seldom lowers a slack, so the
// branch is well predicted and saves two stores per arc. Strictly less, so
// the first row to reach a slack keeps it. An unbounded column dual would
// overflow the reduced cost; such an arc counts as no arc (see the header).
void AssignmentProblem::HungarianSolve::enqueueAndLowerSlacks(Node row) {
    const Node* heads = successors[row].data();
    const std::int32_t* rowCosts = arcCosts[row].data();
    const std::size_t arcCount = successors[row].size();
    const std::int64_t rowDual = dualX[row];
    const std::int64_t* columnDuals = dualY.data();
    std::int64_t* columnSlacks = slack.data();
    Node* columnSlackRows = slackRow.data();
    const std::uint8_t* visitedColumns = visited.data();
    std::size_t firstTightArc = arcCount;
    std::size_t tightArcsEnd = 0;
    for (std::size_t k = 0; k < arcCount; ++k) {
        const Node column = heads[k];
        const std::int64_t columnDual = columnDuals[column];
        const std::int64_t reducedCost =
            columnDual == Unbounded ? Unbounded : rowCosts[k] - rowDual - columnDual;
        if (reducedCost < columnSlacks[column]) {
            columnSlacks[column] = reducedCost;
            columnSlackRows[column] = row;
        }
        if (reducedCost == 0 && !visitedColumns[column]) {
            firstTightArc = std::min(firstTightArc, k);
            tightArcsEnd = k + 1;
        }
    }
    queue[queueEnd++] = {row, static_cast<Node>(firstTightArc), static_cast<Node>(tightArcsEnd)};
}

// Each row on the path takes the column it was reached through and passes its
// old column up to its parent; the root, which had none, ends the walk.
void AssignmentProblem::HungarianSolve::flipPath(const AlternatingTree& tree, PathEnd end) {
    Node row = end.row;
    Node column = end.column;
    for (;;) {
        const Node previousColumn = problem.assignment[row];
        columnRow[column] = row;
        problem.assignment[row] = column;
        if (row == tree.root()) {
            return;
        }
        row = tree.parentOf(row);
        column = previousColumn;
    }
}

AssignmentProblem::AssignmentProblem(const SuccessorLists& graph, const ArcCosts& costs)
    : graph(&graph),
      costs(&costs),
      assignment(graph.size(), 0),
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

std::int64_t AssignmentProblem::solutionValue() const {
    if (infeasible) {
        return InfeasibleBound;
    }
    std::int64_t value = 0;
    for (std::size_t i = 0; i < graph->size(); ++i) {
        const std::vector<Node>& heads = (*graph)[i];
        const auto arc = std::find(heads.begin(), heads.end(), assignment[i]);
        if (arc != heads.end()) {
            value += (*costs)[i][arc - heads.begin()];
        }
    }
    return value;
}

void AssignmentProblem::removeArc(Node i, Node j) {
    if (assignment[i] == j) {
        assignment[i] = NoNode;
    }
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
