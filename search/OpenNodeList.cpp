#include "search/OpenNodeList.h"

#include <cstdint>
#include <iterator>
#include <utility>

namespace atsp {

std::unique_ptr<Subproblem> OpenNodeList::takeFront() {
    const std::int64_t frontBound = nodes.front()->lowerBound;
    std::unique_ptr<Subproblem> front = std::move(nodes.front());
    nodes.pop_front();
    // The front entry was the first of its bound; the next entry inherits that
    // role if it holds the same bound.
    if (!nodes.empty() && nodes.front()->lowerBound == frontBound) {
        firstOfBound.begin()->second = nodes.begin();
    } else {
        firstOfBound.erase(firstOfBound.begin());
    }
    return front;
}

OpenNodeList::Position OpenNodeList::insert(std::unique_ptr<Subproblem> node) {
    return insertAsFirstOfBound(std::move(node));
}

void OpenNodeList::insertBehind(Position parent, std::unique_ptr<Subproblem> child) {
    // Every entry after the parent holds a bound >= the parent's, so a child of
    // equal bound stops at the very next entry. It is then not the first of its
    // bound (the parent, or an entry before it, is), and the index stays.
    if (child->lowerBound <= (*parent)->lowerBound) {
        nodes.insert(std::next(parent), std::move(child));
        return;
    }
    insertAsFirstOfBound(std::move(child));
}

void OpenNodeList::dropFrom(std::int64_t bound) {
    const auto firstDropped = firstOfBound.lower_bound(bound);
    if (firstDropped == firstOfBound.end()) {
        return;
    }
    nodes.erase(firstDropped->second, nodes.end());
    firstOfBound.erase(firstDropped, firstOfBound.end());
}

void OpenNodeList::clear() {
    firstOfBound.clear();
    nodes.clear();
}

OpenNodeList::Position OpenNodeList::insertAsFirstOfBound(std::unique_ptr<Subproblem> node) {
    const std::int64_t bound = node->lowerBound;
    // One look-up serves both the place (the first entry of the least bound
    // >= this one) and the index entry to set or add.
    const auto firstOfLeastBoundAtLeast = firstOfBound.lower_bound(bound);
    const Position place = firstOfLeastBoundAtLeast == firstOfBound.end()
                               ? nodes.end()
                               : firstOfLeastBoundAtLeast->second;
    const Position inserted = nodes.insert(place, std::move(node));
    if (firstOfLeastBoundAtLeast != firstOfBound.end() &&
        firstOfLeastBoundAtLeast->first == bound) {
        firstOfLeastBoundAtLeast->second = inserted;
    } else {
        firstOfBound.emplace_hint(firstOfLeastBoundAtLeast, bound, inserted);
    }
    return inserted;
}

}  // namespace atsp
