#include "assignment/AssignmentProblem.h"

#include <algorithm>
#include <cstddef>
#include <functional>

#include "assignment/AlternatingTree.h"

namespace atsp {

namespace {

// An infinite slack, and the dual of a column that had no incoming arc.
constexpr std::int64_t Unbounded = InfeasibleBound;

// The marks a problem without a mask tests its arcs against: all 0, below
// every stamp, so nothing is blocked. Zero-initialised and never written.
ArcMask::Stamp noMarks[65536];

}  // namespace

// A tree row waiting for its tight arcs to be followed. The duals do not move
// between a row's entry and its turn in the queue, and visited columns stay
// visited, so its tight arcs into unvisited columns at its turn all lie among
// those it had on entry: in the arc positions [firstTightArc, tightArcsEnd)
// of its list, found while its slacks were lowered. The search follows only
// that range, in list order, instead of passing over all the row's arcs a
// second time. `deltaAtEntry` is the sum of dual updates made before the row
// entered the tree.
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

// Between augmentations every slack is Unbounded and no column is visited:
// each augmentation undoes only what it touched (`touchedColumns`,
// `visitedColumns`) when the next one starts.
struct AssignmentProblem::WorkArrays {
    explicit WorkArrays(Node n)
        : queue(n),
          slack(n, Unbounded),
          slackRow(n),
          slackArc(n),
          reachArc(n),
          visited(n, 0),
          tree(std::max<Node>(n, 1), 0) {
        touchedColumns.reserve(n);
        visitedColumns.reserve(n);
    }

    // FIFO of tree rows in the order they entered. It is not rewound between
    // the searches of one root, so queue[0, queueEnd) is also the list of all
    // tree rows (each enters once), whose duals settleDuals raises.
    std::vector<QueuedRow> queue;
    // slack[j] - totalDelta is the least reduced cost of an arc from a tree
    // row into column j; Unbounded when there is none or j is in the tree.
    std::vector<std::int64_t> slack;
    std::vector<Node> slackRow;         // first tree row that attained the slack
    std::vector<Node> slackArc;         // position of that arc in slackRow's list
    std::vector<Node> reachArc;         // position, in its parent row, of the arc that reached j
    std::vector<std::uint8_t> visited;  // column j reached by the current tree
    std::vector<Node> touchedColumns;   // columns given a finite slack, in order
    std::vector<VisitedColumn> visitedColumns;
    // The columns at zero slack after a dual update, lowest first, and those
    // that rows entering during the scan bring to zero behind the scan's
    // place (a min-heap).
    std::vector<Node> zeroSlackColumns;
    std::vector<Node> laterZeroSlackColumns;
    AlternatingTree tree;
};

AssignmentProblem::WorkArraysHolder::WorkArraysHolder() = default;
AssignmentProblem::WorkArraysHolder::WorkArraysHolder(const WorkArraysHolder&) {}
AssignmentProblem::WorkArraysHolder& AssignmentProblem::WorkArraysHolder::operator=(
    const WorkArraysHolder&) {
    return *this;  // each problem keeps its own
}
AssignmentProblem::WorkArraysHolder::WorkArraysHolder(WorkArraysHolder&&) noexcept = default;
AssignmentProblem::WorkArraysHolder& AssignmentProblem::WorkArraysHolder::operator=(
    WorkArraysHolder&&) noexcept = default;
AssignmentProblem::WorkArraysHolder::~WorkArraysHolder() = default;

AssignmentProblem::WorkArrays& AssignmentProblem::WorkArraysHolder::arraysFor(std::size_t n) {
    if (!arrays || arrays->queue.size() != n) {
        arrays = std::make_unique<WorkArrays>(static_cast<Node>(n));
    }
    return *arrays;
}

// The steps of one solve, on the problem's assignment and duals in place and
// on its work arrays.
class AssignmentProblem::HungarianSolve {
  public:
    HungarianSolve(AssignmentProblem& problem, std::int64_t cutoff)
        : problem(problem),
          graph(*problem.graph),
          mask(problem.mask),
          marks(mask != nullptr ? mask->marks() : noMarks),
          dualX(problem.dualX),
          dualY(problem.dualY),
          n(static_cast<Node>(graph.cityCount())),
          cutoff(cutoff),
          work(problem.work.arraysFor(n)),
          columnRow(problem.columnRows),
          queue(work.queue),
          slack(work.slack),
          slackRow(work.slackRow),
          slackArc(work.slackArc),
          reachArc(work.reachArc),
          visited(work.visited),
          touchedColumns(work.touchedColumns),
          visitedColumns(work.visitedColumns),
          zeroSlackColumns(work.zeroSlackColumns),
          laterZeroSlackColumns(work.laterZeroSlackColumns) {}

    void prepareFromScratch();
    void prepareIncremental();
    void reduceRows();

    // Assigns `root` along one augmenting path. Stops early when no free
    // column can be reached from it (Infeasible) or when the dual objective
    // reaches the cutoff (CutOff).
    enum class Augmentation { Done, Infeasible, CutOff };
    Augmentation augmentFrom(Node root);

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
            return mask->scan(row, graph.rowLength(row));
        }
        return {0, graph.rowLength(row), 1};
    }

    void plantTree(Node root);
    PathEnd growTree();
    std::int64_t leastSlackOutsideTree();
    PathEnd scanZeroSlackColumns();
    void visit(Node column, Node arc);
    void enterTree(Node row, Node parent);
    void enqueueAndLowerSlacks(Node row);
    void settleDuals();
    void flipPath(PathEnd end);

    AssignmentProblem& problem;
    const Graph& graph;
    const ArcMask* const mask;
    const ArcMask::Stamp* const marks;
    std::vector<std::int64_t>& dualX;
    std::vector<std::int64_t>& dualY;
    const Node n;
    // The problem's dualSum rises by each dual update, since the tree holds
    // one row more than columns; once it reaches `cutoff` the solve stops.
    const std::int64_t cutoff;

    WorkArrays& work;
    const std::vector<Node>& columnRow;  // the problem's, changed through it
    std::vector<QueuedRow>& queue;
    std::size_t queueNext = 0;
    std::size_t queueEnd = 0;
    // The sum of the dual updates of this augmentation so far: tree rows owe
    // it (less their deltaAtEntry) to their duals, tree columns likewise.
    std::int64_t totalDelta = 0;
    std::vector<std::int64_t>& slack;
    std::vector<Node>& slackRow;
    std::vector<Node>& slackArc;
    std::vector<Node>& reachArc;
    std::vector<std::uint8_t>& visited;
    std::vector<Node>& touchedColumns;
    std::vector<VisitedColumn>& visitedColumns;
    std::vector<Node>& zeroSlackColumns;
    std::vector<Node>& laterZeroSlackColumns;
    bool scanningZeroSlack = false;
    Node scanColumn = 0;
};

void AssignmentProblem::HungarianSolve::prepareFromScratch() {
    std::fill(problem.assignment.begin(), problem.assignment.end(), NoNode);
    std::fill(problem.assignedArcs.begin(), problem.assignedArcs.end(), NoNode);
    problem.deriveFromAssignment();
    for (Node i = 0; i < n; ++i) {
        const ArcMask::RowScan arcs = arcsOf(i);
        const Node* heads = graph.successors(i).data();
        const std::int32_t* rowCosts = graph.costs(i).data();
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
        const Node* heads = graph.successors(i).data();
        const std::int32_t* rowCosts = graph.costs(i).data();
        for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
            if (marks[heads[k]] < arcs.stamp) {
                dualY[heads[k]] = std::min(dualY[heads[k]], rowCosts[k] - dualX[i]);
            }
        }
    }
    problem.sumDuals();
}

// Augmenting row reduction, two passes over the free rows. A row displaced by
// a strict gain is taken up again at once; one displaced on a tie waits for
// the next pass. Each strict gain lowers a column dual, and the steps of a
// pass are capped, so the reduction ends; whatever is left free is augmented
// afterwards. A row without a usable arc is left for the augmentation, which
// finds the problem infeasible.
void AssignmentProblem::HungarianSolve::reduceRows() {
    std::vector<Node> free = problem.freeRows;
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<Node> freeLater;
        std::size_t steps = 0;
        const std::size_t stepLimit = 4 * static_cast<std::size_t>(n) + 16;
        std::size_t next = 0;
        while (next < free.size()) {
            const Node row = free[next++];
            const ArcMask::RowScan arcs = arcsOf(row);
            const Node* heads = graph.successors(row).data();
            const std::int32_t* rowCosts = graph.costs(row).data();
            std::int64_t least = Unbounded;
            std::int64_t second = Unbounded;
            Node leastArc = NoNode;
            Node secondArc = NoNode;
            for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
                const Node column = heads[k];
                if (marks[column] >= arcs.stamp || dualY[column] == Unbounded) {
                    continue;
                }
                const std::int64_t netCost = rowCosts[k] - dualY[column];
                if (netCost < least) {
                    second = least;
                    secondArc = leastArc;
                    least = netCost;
                    leastArc = static_cast<Node>(k);
                } else if (netCost < second) {
                    second = netCost;
                    secondArc = static_cast<Node>(k);
                }
            }
            if (leastArc == NoNode) {
                freeLater.push_back(row);
                continue;
            }
            Node arc = leastArc;
            const bool strictGain = second != Unbounded && least < second;
            if (strictGain) {
                const Node column = heads[arc];
                problem.setColumnDual(column, dualY[column] - (second - least));
                problem.setRowDual(row, second);
            } else {
                problem.setRowDual(row, least);
                if (columnRow[heads[arc]] != NoNode && secondArc != NoNode) {
                    arc = secondArc;  // as cheap, and perhaps free
                }
            }
            const Node column = heads[arc];
            const Node displaced = columnRow[column];
            if (displaced != NoNode) {
                problem.assignRow(displaced, NoNode, NoNode);
            }
            problem.setColumnRow(column, row);
            problem.assignRow(row, column, arc);
            if (displaced == NoNode) {
                continue;
            }
            if (strictGain && ++steps < stepLimit) {
                free[--next] = displaced;
            } else {
                freeLater.push_back(displaced);
            }
        }
        free = std::move(freeLater);
    }
    problem.freeRows = free;
    problem.dualSumKnown = false;
}

// Kept rows keep column, dual and tight arc; column duals do not move. A freed
// row's dual becomes its least cost net of column duals, which leaves all its
// reduced costs non-negative and at least one of them 0. Lowering column duals
// instead would loosen the arcs that kept rows hold and could end the re-solve
// above the optimum. A row without usable arcs keeps its dual; it ends the
// solve as infeasible when it becomes a root.
void AssignmentProblem::HungarianSolve::prepareIncremental() {
    if (!problem.assignmentDerived) {
        problem.deriveFromAssignment();
    }
    for (const Node i : problem.freeRows) {
        const ArcMask::RowScan arcs = arcsOf(i);
        const Node* heads = graph.successors(i).data();
        const std::int32_t* rowCosts = graph.costs(i).data();
        std::int64_t leastNetCost = Unbounded;
        for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
            // An unbounded column dual gives no finite bound (see the header).
            if (marks[heads[k]] < arcs.stamp && dualY[heads[k]] != Unbounded) {
                leastNetCost = std::min(leastNetCost, rowCosts[k] - dualY[heads[k]]);
            }
        }
        if (leastNetCost != Unbounded) {
            problem.dualSum += leastNetCost - dualX[i];
            problem.setRowDual(i, leastNetCost);
        }
    }
    if (!problem.dualSumKnown) {
        problem.sumDuals();
    }
}

AssignmentProblem::HungarianSolve::Augmentation AssignmentProblem::HungarianSolve::augmentFrom(
    Node root) {
    const bool watchCutoff = problem.dualSumKnown && cutoff != Unbounded;
    if (watchCutoff && problem.dualSum >= cutoff) {
        problem.boundAtCutoff = problem.dualSum;
        return Augmentation::CutOff;
    }
    plantTree(root);
    for (;;) {
        PathEnd end = growTree();
        if (!end.found()) {
            const std::int64_t delta = leastSlackOutsideTree();
            if (delta == Unbounded) {
                settleDuals();
                return Augmentation::Infeasible;
            }
            if (watchCutoff && problem.dualSum + totalDelta + delta >= cutoff) {
                // Moving the duals by delta would keep them feasible, so the
                // objective after it is a valid lower bound.
                settleDuals();
                problem.boundAtCutoff = problem.dualSum + delta;
                return Augmentation::CutOff;
            }
            totalDelta += delta;
            end = scanZeroSlackColumns();
        }
        if (end.found()) {
            settleDuals();
            flipPath(end);
            return Augmentation::Done;
        }
    }
}

// Undoes what the previous augmentation touched, then plants the tree.
void AssignmentProblem::HungarianSolve::plantTree(Node root) {
    for (const VisitedColumn& column : visitedColumns) {
        visited[column.column] = 0;
    }
    for (const Node column : touchedColumns) {
        slack[column] = Unbounded;
    }
    visitedColumns.clear();
    touchedColumns.clear();
    work.tree.restart(root);
    totalDelta = 0;
    queueNext = 0;
    queueEnd = 0;
    // With every slack still unbounded, lowering sets each to the root's
    // reduced cost.
    enqueueAndLowerSlacks(root);
}

// Follows tight arcs out of the queued rows, in queue and list order, until a
// free column turns up or the queue runs dry.
AssignmentProblem::HungarianSolve::PathEnd AssignmentProblem::HungarianSolve::growTree() {
    while (queueNext < queueEnd) {
        const QueuedRow queued = queue[queueNext++];
        const Node* heads = graph.successors(queued.row).data();
        const std::int32_t* rowCosts = graph.costs(queued.row).data();
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
            enterTree(columnRow[column], queued.row);
            stamp = arcsOf(queued.row).stamp;
        }
    }
    return {};
}

// The least slack of a column outside the tree, and the columns that attain
// it in increasing order. Only columns that a tree row reached can have a
// finite slack, and those in the tree hold an unbounded one, so the pass
// covers the touched columns alone.
std::int64_t AssignmentProblem::HungarianSolve::leastSlackOutsideTree() {
    std::int64_t least = Unbounded;
    zeroSlackColumns.clear();
    const std::int64_t* slacks = slack.data();
    // Columns that entered the tree leave the list as it is read: they will
    // not be reached again in this augmentation.
    std::size_t keptColumns = 0;
    for (const Node column : touchedColumns) {
        const std::int64_t columnSlack = slacks[column];
        if (columnSlack == Unbounded) {
            continue;
        }
        touchedColumns[keptColumns++] = column;
        if (columnSlack > least) {
            continue;
        }
        if (columnSlack < least) {
            least = columnSlack;
            zeroSlackColumns.clear();
        }
        zeroSlackColumns.push_back(column);
    }
    touchedColumns.resize(keptColumns);
    std::sort(zeroSlackColumns.begin(), zeroSlackColumns.end());
    return least == Unbounded ? Unbounded : least - totalDelta;
}

// Takes the columns the dual update made reachable, lowest number first. Rows
// entering here may bring higher columns to zero slack within the same scan
// (they join the scan); lower ones are found by the next growTree, which
// starts at these rows.
AssignmentProblem::HungarianSolve::PathEnd
AssignmentProblem::HungarianSolve::scanZeroSlackColumns() {
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
        if (!work.tree.contains(columnRow[j])) {
            enterTree(columnRow[j], slackRow[j]);
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

void AssignmentProblem::HungarianSolve::enterTree(Node row, Node parent) {
    work.tree.add(row, parent);
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
    const Node* heads = graph.successors(row).data();
    const std::int32_t* rowCosts = graph.costs(row).data();
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
            if (columnSlacks[column] == Unbounded) {
                touchedColumns.push_back(column);
            }
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

// Pays every tree row and tree column the dual updates made since it entered,
// and moves the objective on by them.
void AssignmentProblem::HungarianSolve::settleDuals() {
    for (std::size_t position = 0; position < queueEnd; ++position) {
        const Node row = queue[position].row;
        problem.setRowDual(row, dualX[row] + totalDelta - queue[position].deltaAtEntry);
    }
    for (const VisitedColumn& column : visitedColumns) {
        problem.setColumnDual(column.column,
                              dualY[column.column] - (totalDelta - column.deltaAtVisit));
    }
    problem.dualSum += totalDelta;
}

// Each row on the path takes the column it was reached through and passes its
// old column up to its parent; the root, which had none, ends the walk.
void AssignmentProblem::HungarianSolve::flipPath(PathEnd end) {
    Node row = end.row;
    Node column = end.column;
    Node arc = end.arc;
    for (;;) {
        const Node previousColumn = problem.assignment[row];
        problem.setColumnRow(column, row);
        problem.assignRow(row, column, arc);
        if (row == work.tree.root()) {
            return;
        }
        row = work.tree.parentOf(row);
        column = previousColumn;
        arc = reachArc[previousColumn];
    }
}

AssignmentProblem::AssignmentProblem(const Graph& graph)
    : graph(&graph),
      mask(nullptr),
      assignment(graph.cityCount(), 0),
      assignedArcs(graph.cityCount(), NoNode),
      dualX(graph.cityCount(), 0),
      dualY(graph.cityCount(), 0),
      infeasible(false),
      columnRows(graph.cityCount(), NoNode) {}

void AssignmentProblem::setGraph(const Graph& graph) {
    this->graph = &graph;
    for (std::size_t row = 0; row < assignment.size(); ++row) {
        if (assignment[row] != NoNode) {
            assignedArcs[row] = graph.arcPosition(static_cast<Node>(row), assignment[row]);
        }
    }
}

void AssignmentProblem::solveHungarian(bool incremental) {
    solveHungarian(incremental, Unbounded);
}

void AssignmentProblem::solveHungarian(bool incremental, std::int64_t cutoff) {
    stoppedAtCutoff = false;
    HungarianSolve solve(*this, cutoff);
    if (incremental) {
        solve.prepareIncremental();
    } else {
        solve.prepareFromScratch();
    }
    augmentFreeRows(solve);
}

void AssignmentProblem::solveByRowReduction() {
    stoppedAtCutoff = false;
    HungarianSolve solve(*this, Unbounded);
    solve.prepareFromScratch();
    solve.reduceRows();
    solve.prepareIncremental();
    augmentFreeRows(solve);
}

void AssignmentProblem::augmentFreeRows(HungarianSolve& solve) {
    // Roots go lowest free row first. An augmentation assigns its root and
    // frees no row, so the free rows in increasing order are the roots.
    std::vector<Node> roots = freeRows;
    std::sort(roots.begin(), roots.end());
    for (std::size_t next = 0; next < roots.size(); ++next) {
        const HungarianSolve::Augmentation result = solve.augmentFrom(roots[next]);
        if (result != HungarianSolve::Augmentation::Done) {
            freeRows.assign(roots.begin() + static_cast<std::ptrdiff_t>(next), roots.end());
            if (result == HungarianSolve::Augmentation::Infeasible) {
                infeasible = true;
            } else {
                stoppedAtCutoff = true;
            }
            return;
        }
    }
    freeRows.clear();
}

std::int64_t AssignmentProblem::solutionValue() const {
    if (infeasible) {
        return InfeasibleBound;
    }
    if (stoppedAtCutoff) {
        return boundAtCutoff;
    }
    // Complete, with every assigned arc tight: the duals sum to the value.
    if (assignmentDerived && freeRows.empty() && dualSumKnown) {
        return dualSum;
    }
    std::int64_t value = 0;
    for (std::size_t i = 0; i < graph->cityCount(); ++i) {
        if (assignedArcs[i] != NoNode) {
            value += graph->costs(static_cast<Node>(i))[assignedArcs[i]];
        }
    }
    return value;
}

void AssignmentProblem::removeArc(Node i, Node j) {
    if (assignment[i] != j) {
        return;
    }
    assignRow(i, NoNode, NoNode);
    if (assignmentDerived) {
        setColumnRow(j, NoNode);
        freeRows.push_back(i);
    }
}

void AssignmentProblem::assignRow(Node row, Node column, Node arc) {
    if (inTrial) {
        changes.push_back({Change::Kind::Row, row, assignment[row], assignedArcs[row], 0});
    }
    assignment[row] = column;
    assignedArcs[row] = arc;
}

void AssignmentProblem::setColumnRow(Node column, Node row) {
    if (inTrial) {
        changes.push_back({Change::Kind::ColumnRow, column, columnRows[column], NoNode, 0});
    }
    columnRows[column] = row;
}

void AssignmentProblem::setRowDual(Node row, std::int64_t dual) {
    if (inTrial) {
        changes.push_back({Change::Kind::RowDual, row, NoNode, NoNode, dualX[row]});
    }
    dualX[row] = dual;
}

void AssignmentProblem::setColumnDual(Node column, std::int64_t dual) {
    if (inTrial) {
        changes.push_back({Change::Kind::ColumnDual, column, NoNode, NoNode, dualY[column]});
    }
    dualY[column] = dual;
}

void AssignmentProblem::deriveFromAssignment() {
    const std::size_t n = assignment.size();
    columnRows.assign(n, NoNode);
    freeRows.clear();
    for (std::size_t row = 0; row < n; ++row) {
        if (assignment[row] == NoNode) {
            freeRows.push_back(static_cast<Node>(row));
        } else if (assignment[row] < n) {
            columnRows[assignment[row]] = static_cast<Node>(row);
        }
    }
    assignmentDerived = true;
}

// Unknown while a column has no incoming arc: its dual is then Unbounded.
void AssignmentProblem::sumDuals() {
    dualSum = 0;
    dualSumKnown = false;
    for (std::size_t i = 0; i < dualY.size(); ++i) {
        if (dualY[i] == InfeasibleBound) {
            return;
        }
        dualSum += dualX[i] + dualY[i];
    }
    dualSumKnown = true;
}

void AssignmentProblem::beginTrial() {
    changes.clear();
    trialStart = {infeasible, stoppedAtCutoff, boundAtCutoff, assignmentDerived,
                  dualSum,    dualSumKnown,    freeRows};
    inTrial = true;
}

void AssignmentProblem::endTrial() {
    inTrial = false;
    for (auto change = changes.rbegin(); change != changes.rend(); ++change) {
        switch (change->kind) {
            case Change::Kind::Row:
                assignment[change->index] = change->oldNode;
                assignedArcs[change->index] = change->oldArc;
                break;
            case Change::Kind::ColumnRow:
                columnRows[change->index] = change->oldNode;
                break;
            case Change::Kind::RowDual:
                dualX[change->index] = change->oldDual;
                break;
            case Change::Kind::ColumnDual:
                dualY[change->index] = change->oldDual;
                break;
        }
    }
    changes.clear();
    infeasible = trialStart.infeasible;
    stoppedAtCutoff = trialStart.stoppedAtCutoff;
    boundAtCutoff = trialStart.boundAtCutoff;
    assignmentDerived = trialStart.assignmentDerived;
    dualSum = trialStart.dualSum;
    dualSumKnown = trialStart.dualSumKnown;
    freeRows = trialStart.freeRows;
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
    stoppedAtCutoff = false;
    for (std::size_t i = 0; i < assignedArcs.size(); ++i) {
        const Node position = assignedArcs[i];
        assignment[i] = graph->successors(static_cast<Node>(i))[position];
        dualX[i] = graph->costs(static_cast<Node>(i))[position] - dualY[assignment[i]];
    }
    infeasible = false;
    deriveFromAssignment();
    sumDuals();
}

bool AssignmentProblem::certifiesOptimality() const {
    const std::size_t n = graph->cityCount();
    if (infeasible || assignment.size() != n) {
        return false;
    }
    std::vector<std::uint8_t> columnTaken(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::span<const Node> heads = graph->successors(static_cast<Node>(i));
        const ArcMask::RowScan arcs = mask != nullptr
                                          ? mask->scan(static_cast<Node>(i), heads.size())
                                          : ArcMask::RowScan{0, heads.size(), 1};
        const ArcMask::Stamp* columnMarks = mask != nullptr ? mask->marks() : noMarks;
        bool assignedArcAllowed = false;
        for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
            if (columnMarks[heads[k]] >= arcs.stamp) {
                continue;
            }
            const std::int64_t reducedCost =
                graph->costs(static_cast<Node>(i))[k] - dualX[i] - dualY[heads[k]];
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

}  // namespace atsp
