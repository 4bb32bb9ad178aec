#include "search/ConstraintChain.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace atsp {

ConstraintChain::ConstraintChain(const ConstraintChain& other) : newest(acquire(other.newest)) {}

ConstraintChain::ConstraintChain(ConstraintChain&& other) noexcept
    : newest(std::exchange(other.newest, nullptr)) {}

ConstraintChain& ConstraintChain::operator=(ConstraintChain other) noexcept {
    std::swap(newest, other.newest);
    return *this;
}

ConstraintChain::~ConstraintChain() {
    release(newest);
}

ConstraintChain ConstraintChain::withForced(Node tail, Node head, Node position) const {
    return extendedBy(tail, head, position, true);
}

ConstraintChain ConstraintChain::withForbidden(Node tail, Node head) const {
    return extendedBy(tail, head, NoNode, false);
}

ConstraintChain ConstraintChain::withForbidden(
    std::span<const std::pair<Node, Node>> arcs) const {
    if (arcs.empty()) {
        return *this;
    }
    auto more = std::make_unique<std::pair<Node, Node>[]>(arcs.size() - 1);
    std::copy(arcs.begin() + 1, arcs.end(), more.get());
    return ConstraintChain(new Record{{1},
                                      arcs.front().first,
                                      arcs.front().second,
                                      NoNode,
                                      static_cast<std::uint32_t>(arcs.size() - 1),
                                      false,
                                      acquire(newest),
                                      std::move(more)});
}

ConstraintChain ConstraintChain::extendedBy(Node tail, Node head, Node position,
                                            bool forced) const {
    // The new record takes over the reference that acquire adds to its parent.
    return ConstraintChain(new Record{{1}, tail, head, position, 0, forced, acquire(newest), {}});
}

void ConstraintChain::applyTo(ArcMask& mask) const {
    for (const Record* record = newest; record != nullptr; record = record->parent) {
        if (record->forced) {
            mask.force(record->tail, record->head, record->forcedPosition);
        } else {
            mask.forbid(record->tail, record->head);
        }
        for (std::uint32_t k = 0; k < record->alsoForbiddenCount; ++k) {
            mask.forbid(record->alsoForbidden[k].first, record->alsoForbidden[k].second);
        }
    }
}

// A new reference needs no ordering: whoever passes a chain on already holds
// one, so the record cannot be released meanwhile.
const ConstraintChain::Record* ConstraintChain::acquire(const Record* record) {
    if (record != nullptr) {
        record->references.fetch_add(1, std::memory_order_relaxed);
    }
    return record;
}

// The last reference out releases the record, and with it its reference to the
// parent, and so on up the chain. Acquire-release ordering makes every use of a
// record by other threads happen before its deletion.
void ConstraintChain::release(const Record* record) {
    while (record != nullptr) {
        if (record->references.fetch_sub(1, std::memory_order_acq_rel) != 1) {
            return;
        }
        const Record* parent = record->parent;
        delete record;
        record = parent;
    }
}

}  // namespace atsp
