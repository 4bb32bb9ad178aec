// A thread's open nodes in the order of the parallel search as first built:
// by lowerBound, least first, with children filed by one forward pass. Any
// node type with a signed 64-bit `lowerBound` will do.
//
// The insertion rule (`file`): each child of an expansion goes before the
// first entry, from the place of the previous child on, whose bound is
// greater than its own, so entries of equal bound stay ahead of it; children
// that reach the end go there in reverse order. That reversed tail leaves the
// list unsorted in places (a node can stand behind its own child), so the
// first entry a child ranks before cannot be found by a search over bounds
// alone, and a plain walk from the front costs a step per entry: tens of
// thousands per expansion on the harder instances.
//
// The index. A record is an entry whose bound is no less than that of any
// entry ahead of it (a left-to-right maximum; equal bounds included, so that
// a run of equal bounds is all records). Records stand in the list in the
// order of their bounds, so a multiset ordered by bound, with equal bounds
// kept in list order, lists them as the list does. The first entry that a
// child ranks before is always a record (everything ahead of it ranks no
// later than the child), and the first record that the child ranks before is
// found in logarithmic time. Invariants:
// - `records` holds exactly the list positions of the records, in list order;
// - the front entry is a record.
// An entry stops being a record only by ranking below one ahead of it: the
// node behind its own child in a reversed tail, or a child that ranks below
// an earlier child of the same expansion. Taking the front rescans the run of
// such entries behind it; in the branch and bound that run is at most one
// entry long.
//
// Not thread-safe: one thread uses it at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <list>
#include <memory>
#include <set>
#include <vector>

namespace atsp {

template <typename NodeType>
class ForwardPassList {
  public:
    using NodePointer = std::unique_ptr<NodeType>;
    using Entries = std::list<NodePointer>;
    using const_iterator = typename Entries::const_iterator;

    // Nodes behind their children break the order by bound.
    static constexpr bool sortedByBound = false;

    bool empty() const { return entries.empty(); }
    std::size_t size() const { return entries.size(); }
    const_iterator begin() const { return entries.begin(); }
    const_iterator end() const { return entries.end(); }

    // The bound of the node to be expanded next. The list must not be empty.
    std::int64_t frontBound() const { return entries.front()->lowerBound; }

    NodePointer takeFront() {
        NodePointer node = std::move(entries.front());
        entries.pop_front();
        records.erase(records.begin());
        // The entries up to the next record ranked below the old front; now
        // nothing is ahead of them.
        const Position runEnd = records.empty() ? entries.end() : *records.begin();
        indexRun(entries.begin(), runEnd, records.begin());
        return node;
    }

    // Moves the node to be expanded after the front one into `batch` for
    // another thread, when there is one: a hand-off gives one node at a time
    // here, whatever `count` above 0 asks for. The front stays: it is often
    // the node just branched, still in the thread's workspace.
    void give(std::vector<NodePointer>& batch, std::size_t count) {
        if (count == 0 || entries.size() < 2) {
            return;
        }
        batch.push_back(std::move(*std::next(entries.begin())));
        popSecond();
    }

    // Moves the children of one expansion into the list by the forward pass,
    // leaving `children` holding empty pointers.
    void file(std::vector<NodePointer>& children) {
        // `place` is a record (or the end), and every entry ahead of it ranks
        // before it: it was the first entry that a child ranked before, and
        // each child put ahead of it since ranked before it too.
        auto placeRecord = records.begin();
        auto child = children.begin();
        for (; child != children.end(); ++child) {
            if (placeRecord == records.end() || !before(*child, **placeRecord)) {
                // The child ranks no earlier than `place`, so no earlier than
                // anything ahead of it: the first record it ranks before is
                // the first entry it ranks before.
                placeRecord = records.upper_bound(*child);
                if (placeRecord == records.end()) {
                    break;
                }
            }
            const Position inserted = entries.insert(*placeRecord, std::move(*child));
            if (placeRecord == records.begin() || !before(*inserted, **std::prev(placeRecord))) {
                records.insert(placeRecord, inserted);  // right before `place`
            }
        }
        appendReversed(child, children.end());
    }

    // A node handed over by another thread, filed as a child is.
    void receive(NodePointer node) {
        std::vector<NodePointer> one;
        one.push_back(std::move(node));
        file(one);
    }

    // The list is not sorted: nodes that a new tour makes useless are
    // dropped when they are taken up.
    void dropFrom(std::int64_t) {}

    // The least bound held, by a walk over the list; the largest value when
    // empty.
    std::int64_t leastBound() const {
        std::int64_t least = std::numeric_limits<std::int64_t>::max();
        for (const NodePointer& node : entries) {
            least = node->lowerBound < least ? node->lowerBound : least;
        }
        return least;
    }

    void clear() {
        records.clear();
        entries.clear();
    }

  private:
    using Position = typename Entries::iterator;

    // Removes the second entry without looking at its node.
    void popSecond() {
        const Position removed = std::next(entries.begin());
        // If it was a record, the entries behind it up to the next record
        // ranked below it; now only the front is ahead of them.
        auto record = records.begin();
        const bool wasRecord = std::next(record) != records.end() && *std::next(record) == removed;
        if (!wasRecord) {
            entries.erase(removed);
            return;
        }
        const auto nextRecord = records.erase(std::next(record));
        const Position runEnd = nextRecord == records.end() ? entries.end() : *nextRecord;
        const Position runBegin = entries.erase(removed);
        indexRun(runBegin, runEnd, nextRecord);
    }

    static bool before(const NodePointer& first, const NodePointer& second) {
        return first->lowerBound < second->lowerBound;
    }

    // Orders records by bound, which is also their order in the list (equal
    // bounds are kept in list order by inserting each at its place with a
    // hint). Also compares a node to a record, to look a child's place up.
    struct BoundOrder {
        using is_transparent = void;
        bool operator()(Position first, Position second) const { return before(*first, *second); }
        bool operator()(const NodePointer& node, Position record) const {
            return before(node, *record);
        }
        bool operator()(Position record, const NodePointer& node) const {
            return before(*record, node);
        }
    };
    using Records = std::multiset<Position, BoundOrder>;

    void appendReversed(typename std::vector<NodePointer>::iterator child,
                        typename std::vector<NodePointer>::iterator last) {
        Position tailFront = entries.end();
        for (; child != last; ++child) {
            tailFront = entries.insert(tailFront, std::move(*child));
        }
        indexRun(tailFront, entries.end(), records.end());
    }

    // Adds to `records` the records among the entries [first, last), none of
    // which is indexed yet; `nextRecord` is the first record behind them (or
    // the end of `records`), and every record ahead of them is indexed.
    void indexRun(Position first, Position last, typename Records::iterator nextRecord) {
        const bool anyAhead = nextRecord != records.begin();
        Position lastRecord = anyAhead ? *std::prev(nextRecord) : entries.end();
        for (Position entry = first; entry != last; ++entry) {
            if (lastRecord == entries.end() || !before(*entry, *lastRecord)) {
                records.insert(nextRecord, entry);
                lastRecord = entry;
            }
        }
    }

    Entries entries;
    Records records;
};

}  // namespace atsp
