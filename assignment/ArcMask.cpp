#include "assignment/ArcMask.h"

#include <algorithm>

namespace atsp {

ArcMask::ArcMask(std::size_t cityCount)
    : forcedArcs(cityCount, NoNode), forbiddenHeads(cityCount), columnMarks(cityCount, 0) {}

void ArcMask::force(Node tail, Node head, Node position) {
    forcedArcs[tail] = position;
    columnMarks[head] = ForcedColumn;
    rowsTouched.push_back(tail);
    columnsForced.push_back(head);
}

void ArcMask::forbid(Node tail, Node head) {
    forbiddenHeads[tail].push_back(head);
    rowsTouched.push_back(tail);
}

void ArcMask::allowAgain(Node tail, Node head) {
    std::vector<Node>& heads = forbiddenHeads[tail];
    const auto last = std::find(heads.rbegin(), heads.rend(), head);
    if (last != heads.rend()) {
        heads.erase(std::next(last).base());
    }
}

void ArcMask::clear() {
    for (const Node row : rowsTouched) {
        forcedArcs[row] = NoNode;
        forbiddenHeads[row].clear();
    }
    // Forbidden heads keep old stamps, which later stamps pass.
    for (const Node column : columnsForced) {
        columnMarks[column] = 0;
    }
    rowsTouched.clear();
    columnsForced.clear();
}

ArcMask::Stamp ArcMask::stampForbiddenHeads(Node row) const {
    if (lastStamp + 1 >= ForcedColumn) {
        // Out of stamps: start again from 1, every mark but a forced one at 0.
        for (Stamp& mark : columnMarks) {
            if (mark != ForcedColumn) {
                mark = 0;
            }
        }
        lastStamp = 0;
    }
    const Stamp stamp = ++lastStamp;
    for (const Node head : forbiddenHeads[row]) {
        if (columnMarks[head] != ForcedColumn) {
            columnMarks[head] = stamp;
        }
    }
    return stamp;
}

std::size_t ArcMask::allowedArcs(Node row, std::span<const Node> heads, std::size_t atMost) const {
    const RowScan arcs = scan(row, heads.size());
    std::size_t count = 0;
    for (std::size_t k = arcs.begin; k < arcs.end && count < atMost; ++k) {
        count += blocked(heads[k], arcs.stamp) ? 0 : 1;
    }
    return count;
}

}  // namespace atsp
