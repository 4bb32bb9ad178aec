// The assignment problem of a whole graph, solved first on a sparse core of
// its arcs and then repaired by pricing: the same optimal value as a solve on
// all arcs, at a fraction of its cost on dense graphs.
//
// Why it is exact. The core is a few arcs per row: the row's cheapest ones,
// and the cheapest arc into each column. After the core is solved, every arc
// of the graph is priced against the core's duals: an arc with a negative
// reduced cost c(i, j) - u(i) - v(j) is added to the core, and its row is
// freed and re-assigned by the incremental solve, which first lowers the row's
// dual to its least net cost over the grown core row. Once no arc of the
// graph prices negative, the duals are feasible on every arc and every
// assigned arc is tight: the assignment is optimal for the whole graph, by the
// same certificate as a solve on all arcs. Ties may fall otherwise than in
// that solve, so the assignment can differ; the value cannot.
//
// A core without a complete assignment (a column no core arc enters, or any
// lack of a perfect matching) is grown fourfold and solved again; when it
// would hold most of the graph, the graph itself is solved.
//
// Cost: one pass over all arcs to pick the core, one pass per pricing round
// (usually one or two), and solves on about (arcsPerRow + 1) n arcs.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "assignment/AssignmentProblem.h"

namespace atsp {

// Solves `problem` (over a whole graph, without a mask) as a solve from
// scratch would, to the same value: afterwards it holds an optimal assignment
// and duals certifying it, or is infeasible. `arcsPerRow` is the number of
// cheapest arcs per row the first core holds. `corePositions`, when not null,
// receives the final core, for each row the positions of its core arcs in
// input order: cheap arcs, useful to a heuristic. It is left empty when the
// whole graph had to be solved.
//
// `stopRequested`, when given, is asked every few hundred rows of each pass
// over the graph; once it says yes the solve gives up and returns false,
// leaving `problem` unsolved. True when the solve is complete.
bool solveOnSparseCore(AssignmentProblem& problem, const Graph& graph, std::size_t arcsPerRow,
                       std::vector<std::vector<Node>>* corePositions = nullptr,
                       const std::function<bool()>& stopRequested = {});

}  // namespace atsp
