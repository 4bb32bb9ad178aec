// One thread's open nodes in the parallel tree search, in expansion order.
//
// The list is doubly linked, and children are inserted by one forward pass
// (see `insert`): each child goes before the first entry, from the place of
// the previous child on, that it ranks before; children that reach the end
// go there in reverse order. That reversed tail leaves the list unsorted in
// places, so the first entry a child ranks before cannot be found by a
// search over ranks alone, and a plain walk from the front costs a step per
// entry: tens of thousands per expansion on the harder instances.
//
// The index. A record is an entry that ranks no earlier than any entry ahead
// of it (a left-to-right maximum; equal ranks included, so that a run of
// equal bounds is all records). Records stand in the list in the order of
// their ranks, so a multiset ordered by rank, with equal ranks kept in list
// order, lists them as the list does. The first entry that a child ranks
// before is always a record (everything ahead of it ranks no later than the
// child, so before it), and the first record that the child ranks before is
// found in logarithmic time. Invariants:
// - `records` holds exactly the list positions of the records, in list
//   order, and is empty when there is no comparator;
// - the front entry is a record.
// An entry stops being a record only by ranking below one ahead of it: the
// node behind its own child in a reversed tail, or a child that ranks below
// an earlier child of the same expansion. Taking the front rescans the run of
// such entries behind it; in the branch and bound that run is at most one
// entry long.
//
// Without a comparator the list is a stack: children go to the front in
// their own order, and the search is depth-first.
//
// Not thread-safe: each list is touched by one thread at a time.
#pragma once

#include <cstddef>
#include <iterator>
#include <list>
#include <memory>
#include <set>
#include <vector>

namespace atsp {

template <typename NodeType>
using NodeVector = std::vector<std::unique_ptr<NodeType>>;

// True when the first node is to be expanded before the second.
template <typename NodeType>
using NodeComparator = bool (*)(const std::unique_ptr<NodeType>&, const std::unique_ptr<NodeType>&);

template <typename NodeType>
class ThreadNodeList {
  public:
    using NodePointer = std::unique_ptr<NodeType>;
    using Entries = std::list<NodePointer>;
    using const_iterator = typename Entries::const_iterator;

    // `compare` may be null (depth-first order).
    explicit ThreadNodeList(NodeComparator<NodeType> compare)
        : compare(compare), records(RankOrder{compare}) {}

    ThreadNodeList(ThreadNodeList&&) = default;
    ThreadNodeList& operator=(ThreadNodeList&&) = delete;
    ThreadNodeList(const ThreadNodeList&) = delete;
    ThreadNodeList& operator=(const ThreadNodeList&) = delete;

    bool empty() const { return entries.empty(); }
    std::size_t size() const { return entries.size(); }
    const_iterator begin() const { return entries.begin(); }
    const_iterator end() const { return entries.end(); }

    // The node to be expanded next. The caller may move it out (a hand-off)
    // and must then call popFront before anything else.
    NodePointer& front() { return entries.front(); }

    // Removes the front entry without looking at its node.
    void popFront() {
        entries.pop_front();
        if (compare == nullptr) {
            return;
        }
        records.erase(records.begin());
        // The entries up to the next record ranked below the old front; now
        // nothing is ahead of them.
        const Position runEnd = records.empty() ? entries.end() : *records.begin();
        indexRun(entries.begin(), runEnd, records.begin());
    }

    // The node to be expanded after the front one (the list must hold two).
    // The caller may move it out (a hand-off) and must then call popSecond
    // before anything else.
    NodePointer& second() { return *std::next(entries.begin()); }

    // Removes the second entry without looking at its node.
    void popSecond() {
        const Position removed = std::next(entries.begin());
        if (compare == nullptr) {
            entries.erase(removed);
            return;
        }
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

    NodePointer takeFront() {
        NodePointer node = std::move(entries.front());
        popFront();
        return node;
    }

    NodePointer takeBack() {
        const Position back = std::prev(entries.end());
        if (compare != nullptr && *std::prev(records.end()) == back) {
            records.erase(std::prev(records.end()));
        }
        NodePointer node = std::move(*back);
        entries.erase(back);
        return node;
    }

    void pushFront(NodePointer node) {
        entries.push_front(std::move(node));
        if (compare == nullptr) {
            return;
        }
        // Records that rank before the new front stop being records.
        records.erase(records.begin(), records.lower_bound(entries.front()));
        records.insert(records.begin(), entries.begin());
    }

    void pushBack(NodePointer node) {
        entries.push_back(std::move(node));
        if (compare == nullptr) {
            return;
        }
        const Position back = std::prev(entries.end());
        if (records.empty() || !compare(*back, **std::prev(records.end()))) {
            records.insert(records.end(), back);
        }
    }

    // Moves the children of one expansion into the list, leaving `children`
    // holding empty pointers. With a comparator: one forward pass, each child
    // placed before the first entry, from the place of the previous child on,
    // that it ranks before, so entries of equal rank stay ahead of it;
    // children that reach the end are put there in reverse order (remaining
    // a, b, c give the tail c, b, a).
    void insert(NodeVector<NodeType>& children) {
        if (compare == nullptr) {
            entries.insert(entries.begin(), std::make_move_iterator(children.begin()),
                           std::make_move_iterator(children.end()));
            return;
        }
        // `place` is a record (or the end), and every entry ahead of it ranks
        // before it: it was the first entry that a child ranked before, and
        // each child put ahead of it since ranked before it too.
        auto placeRecord = records.begin();
        auto child = children.begin();
        for (; child != children.end(); ++child) {
            if (placeRecord == records.end() || !compare(*child, **placeRecord)) {
                // The child ranks no earlier than `place`, so no earlier than
                // anything ahead of it: the first record it ranks before is
                // the first entry it ranks before.
                placeRecord = records.upper_bound(*child);
                if (placeRecord == records.end()) {
                    break;
                }
            }
            const Position inserted = entries.insert(*placeRecord, std::move(*child));
            if (placeRecord == records.begin() || !compare(*inserted, **std::prev(placeRecord))) {
                records.insert(placeRecord, inserted);  // right before `place`
            }
        }
        appendReversed(child, children.end());
    }

  private:
    using Position = typename Entries::iterator;
    struct RankOrder;
    using Records = std::multiset<Position, RankOrder>;

    // Orders records by rank, which is also their order in the list (equal
    // ranks are kept in list order by inserting each at its place with a
    // hint). Also compares a node to a record, to look a child's place up.
    struct RankOrder {
        using is_transparent = void;
        NodeComparator<NodeType> compare;
        bool operator()(Position first, Position second) const { return compare(*first, *second); }
        bool operator()(const NodePointer& node, Position record) const {
            return compare(node, *record);
        }
        bool operator()(Position record, const NodePointer& node) const {
            return compare(*record, node);
        }
    };

    void appendReversed(typename NodeVector<NodeType>::iterator child,
                        typename NodeVector<NodeType>::iterator last) {
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
            if (lastRecord == entries.end() || !compare(*entry, *lastRecord)) {
                records.insert(nextRecord, entry);
                lastRecord = entry;
            }
        }
    }

    NodeComparator<NodeType> compare;
    Entries entries;
    Records records;
};

}  // namespace atsp
