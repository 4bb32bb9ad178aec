#include "search/PseudoCosts.h"

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
    overall[forced ? 1 : 0].sum += perUnit;
    ++overall[forced ? 1 : 0].count;
}

bool PseudoCosts::reliable(Node tail, Node head, int reliability) const {
    const std::lock_guard lock(mutex);
    const auto found = arcs.find(key(tail, head));
    return found != arcs.end() && found->second.direction[0].count >= reliability &&
           found->second.direction[1].count >= reliability;
}

double PseudoCosts::perUnit(Node tail, Node head, bool forced) const {
    const int side = forced ? 1 : 0;
    const std::lock_guard lock(mutex);
    const auto found = arcs.find(key(tail, head));
    if (found != arcs.end() && found->second.direction[side].count > 0) {
        const Average& own = found->second.direction[side];
        return own.sum / static_cast<double>(own.count);
    }
    return overall[side].count > 0 ? overall[side].sum / static_cast<double>(overall[side].count)
                                   : 1.0;
}

}  // namespace atsp
