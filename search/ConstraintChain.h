// The forced and forbidden arcs of a search node, stored once and shared with
// the node's descendants.
//
// A node's constraints are its parent's constraints plus one or more arcs of
// its own: a child adds the arc it forbids, and a node adds each arc it forces
// as it walks its cycle. So the constraints of all nodes form a tree of
// records, each naming one arc (or, for the arcs reduced-cost fixing forbids
// at once, a list of them) and pointing to the record it extends; a node
// holds a chain, a pointer to its newest record, and reads its constraints by
// following the parent pointers to the root. A child thus costs one record,
// whatever its depth.
//
// Ownership. Records are immutable once made and reference-counted: a chain
// holds one reference to its newest record and each record one to its parent,
// and a record is released with the last chain or record that refers to it.
// Chains of nodes on different threads share records, so the counts are
// atomic; releasing a long chain is a loop, not a recursion.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>

#include "assignment/ArcMask.h"
#include "graph/Graph.h"

namespace atsp {

class ConstraintChain {
  public:
    // No constraint: the whole graph.
    ConstraintChain() = default;
    ConstraintChain(const ConstraintChain& other);
    ConstraintChain(ConstraintChain&& other) noexcept;
    ConstraintChain& operator=(ConstraintChain other) noexcept;
    ~ConstraintChain();

    // This chain with tail -> head forced as well. `position` is where head
    // stands in the tail's graph row (NoNode when the row does not hold it).
    ConstraintChain withForced(Node tail, Node head, Node position) const;

    // This chain with tail -> head forbidden as well.
    ConstraintChain withForbidden(Node tail, Node head) const;

    // This chain with every arc (tail, head) of `arcs` forbidden as well, in
    // one record of 8 bytes an arc. This chain itself when `arcs` is empty.
    ConstraintChain withForbidden(std::span<const std::pair<Node, Node>> arcs) const;

    // Records every constraint of the chain in `mask`.
    void applyTo(ArcMask& mask) const;

    // Whether both chains end in the same record: they hold the same
    // constraints. While a chain holds its newest record, no other record can
    // take its place, so this tells nodes apart.
    bool sameAs(const ConstraintChain& other) const { return newest == other.newest; }

  private:
    // 40 bytes, which glibc's allocator serves from the same 48-byte chunks
    // as the 32 bytes of a record without the batch: the assignment bound's
    // trees, which make records by the million, pay nothing for it.
    struct Record {
        mutable std::atomic<std::uint32_t> references;
        Node tail;
        Node head;
        Node forcedPosition;  // meaningful only when forced
        // Further forbidden arcs of the same record, (tail, head) each.
        std::uint32_t alsoForbiddenCount;
        bool forced;
        const Record* parent;  // holds one reference; null at the root
        std::unique_ptr<const std::pair<Node, Node>[]> alsoForbidden;
    };
    static_assert(sizeof(Record) <= 40, "a record outgrew its allocation");

    explicit ConstraintChain(Record* newest) : newest(newest) {}
    ConstraintChain extendedBy(Node tail, Node head, Node position, bool forced) const;
    static const Record* acquire(const Record* record);
    static void release(const Record* record);

    const Record* newest = nullptr;
};

}  // namespace atsp
