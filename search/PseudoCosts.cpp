#include "search/PseudoCosts.h"

#include <algorithm>

namespace atsp {

void PseudoCosts::record(Node tail, Node head, bool forced, double movement, double rise) {
    if (!(movement > 0)) {
        return;
    }
    const std::lock_guard lock(mutex);
    const double perUnit = (rise > 0 ? rise : 0.0) / movement;  // a NaN rise too counts as none
    Average& own = arcs[key(tail, head)].direction[forced ? 1 : 0];
    own.sum += perUnit;
    ++own.count;
}

std::optional<PseudoCosts::Rates> PseudoCosts::reliableRates(Node tail, Node head,
                                                             int reliability) const {
    const std::lock_guard lock(mutex);
    const auto found = arcs.find(key(tail, head));
    if (found == arcs.end()) {
        return std::nullopt;
    }
    const Average& forbidden = found->second.direction[0];
    const Average& forced = found->second.direction[1];
    const std::int64_t needed = std::max(reliability, 1);  // an average needs one observation
    if (forbidden.count < needed || forced.count < needed) {
        return std::nullopt;
    }
    return Rates{forbidden.sum / static_cast<double>(forbidden.count),
                 forced.sum / static_cast<double>(forced.count)};
}

}  // namespace atsp
