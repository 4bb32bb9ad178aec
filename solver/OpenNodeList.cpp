#include "solver/OpenNodeList.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>

std::unique_ptr<Subproblem> OpenNodeList::takeFront() {
    std::unique_ptr<Subproblem> front = std::move(nodes.front());
    nodes.pop_front();
    return front;
}

OpenNodeList::Position OpenNodeList::insert(std::unique_ptr<Subproblem> node) {
    return insertFrom(nodes.begin(), std::move(node));
}

void OpenNodeList::insertBehind(Position parent, std::unique_ptr<Subproblem> child) {
    insertFrom(std::next(parent), std::move(child));
}

OpenNodeList::Position OpenNodeList::insertFrom(Position searchStart,
                                                std::unique_ptr<Subproblem> node) {
    const std::int64_t bound = node->lowerBound;
    const Position place = std::find_if(
        searchStart, nodes.end(),
        [bound](const std::unique_ptr<Subproblem>& open) { return open->lowerBound >= bound; });
    return nodes.insert(place, std::move(node));
}

void OpenNodeList::dropFrom(std::int64_t bound) {
    while (!nodes.empty() && nodes.back()->lowerBound >= bound) {
        nodes.pop_back();
    }
}
