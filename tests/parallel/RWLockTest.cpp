// The readers-writer lock: readers overlap, a writer is alone, and the group
// of readers holds the resource until its last member leaves, whichever
// thread that is.
//
// Threads meet through atomic flags with bounded waits, never through sleeps:
// a wait that should end fails the test after a generous bound, and a check
// that something must NOT happen watches for a short while (it can miss a
// fault, but never fails a correct lock).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "parallel/RWLock.h"

namespace atsp {

namespace {

using namespace std::chrono_literals;

// Waits until `condition` holds, at most `bound`; returns whether it held.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

// Whether `condition` stays false for a little while.
bool staysFalse(const std::function<bool()>& condition) {
    return !waitUntil(condition, 100ms);
}

TEST(RWLockTest, TwoReadersAreInsideTogetherAndTheWriterWaitsForTheLastOfThem) {
    RWLock lock;
    std::atomic<int> readersInside{0};
    std::atomic<bool> firstMayLeave{false};
    std::atomic<bool> secondMayLeave{false};
    std::atomic<bool> firstLeft{false};
    std::atomic<bool> writerStarted{false};
    std::atomic<bool> writerInside{false};

    auto reader = [&](int arrival, std::atomic<bool>& mayLeave, std::atomic<bool>* left) {
        EXPECT_TRUE(waitUntil([&] { return readersInside.load() == arrival; }));
        lock.readLock();
        ++readersInside;
        // Blocks forever (and fails) if the lock admits one reader at a time.
        EXPECT_TRUE(waitUntil([&] { return readersInside.load() == 2; }));
        EXPECT_TRUE(waitUntil([&] { return mayLeave.load(); }));
        lock.readUnlock();
        if (left != nullptr) {
            *left = true;
        }
    };
    // The first one in takes the resource for both.
    std::thread first(reader, 0, std::ref(firstMayLeave), &firstLeft);
    std::thread second(reader, 1, std::ref(secondMayLeave), nullptr);
    ASSERT_TRUE(waitUntil([&] { return readersInside.load() == 2; }));

    std::thread writer([&] {
        writerStarted = true;
        lock.writeLock();
        writerInside = true;
        lock.writeUnlock();
    });
    ASSERT_TRUE(waitUntil([&] { return writerStarted.load(); }));
    EXPECT_TRUE(staysFalse([&] { return writerInside.load(); }));

    firstMayLeave = true;
    ASSERT_TRUE(waitUntil([&] { return firstLeft.load(); }));
    EXPECT_TRUE(staysFalse([&] { return writerInside.load(); }));

    secondMayLeave = true;  // the last reader out lets the writer in
    EXPECT_TRUE(waitUntil([&] { return writerInside.load(); }));
    first.join();
    second.join();
    writer.join();
}

TEST(RWLockTest, LockIsFreeAfterReadersLeaveInAnotherOrderThanTheyCame) {
    RWLock lock;
    std::atomic<int> step{0};
    // A enters, then B; A leaves, then B. B thus releases what A acquired.
    std::thread readerA([&] {
        lock.readLock();
        step = 1;
        EXPECT_TRUE(waitUntil([&] { return step.load() == 2; }));
        lock.readUnlock();
        step = 3;
    });
    std::thread readerB([&] {
        EXPECT_TRUE(waitUntil([&] { return step.load() == 1; }));
        lock.readLock();
        step = 2;
        EXPECT_TRUE(waitUntil([&] { return step.load() == 3; }));
        lock.readUnlock();
        step = 4;
    });
    readerA.join();
    readerB.join();
    ASSERT_EQ(step.load(), 4);

    std::atomic<bool> writerInside{false};
    std::thread writer([&] {
        lock.writeLock();
        writerInside = true;
        lock.writeUnlock();
    });
    EXPECT_TRUE(waitUntil([&] { return writerInside.load(); }));
    writer.join();
}

TEST(RWLockTest, ReadersBlockedByAWriterAllProceedTogetherAfterIt) {
    constexpr int readerCount = 3;
    RWLock lock;
    std::atomic<int> readersStarted{0};
    std::atomic<int> readersInside{0};

    lock.writeLock();
    std::vector<std::thread> readers;
    for (int r = 0; r < readerCount; ++r) {
        readers.emplace_back([&] {
            ++readersStarted;
            lock.readLock();
            ++readersInside;
            // Each stays until all are inside: they hold the lock together.
            EXPECT_TRUE(waitUntil([&] { return readersInside.load() == readerCount; }));
            lock.readUnlock();
        });
    }
    ASSERT_TRUE(waitUntil([&] { return readersStarted.load() == readerCount; }));
    EXPECT_TRUE(staysFalse([&] { return readersInside.load() > 0; }));
    lock.writeUnlock();
    EXPECT_TRUE(waitUntil([&] { return readersInside.load() == readerCount; }));
    for (std::thread& reader : readers) {
        reader.join();
    }
}

// Writers keep two plain fields equal; readers must never see them differ,
// and afterwards the lock must be free again.
TEST(RWLockTest, ReadersNeverSeeAHalfWrittenValueUnderHeavyMixedUse) {
    constexpr int threadCount = 4;
    constexpr int roundsPerThread = 20000;
    RWLock lock;
    long long first = 0;
    long long second = 0;
    std::atomic<int> tornReads{0};

    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < roundsPerThread; ++round) {
                if ((round + t) % 8 == 0) {
                    lock.writeLock();
                    ++first;
                    ++second;
                    lock.writeUnlock();
                } else {
                    lock.readLock();
                    if (first != second) {
                        ++tornReads;
                    }
                    lock.readUnlock();
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(tornReads.load(), 0);
    EXPECT_EQ(first, threadCount * roundsPerThread / 8);

    std::atomic<bool> writerInside{false};
    std::thread writer([&] {
        lock.writeLock();
        writerInside = true;
        lock.writeUnlock();
    });
    EXPECT_TRUE(waitUntil([&] { return writerInside.load(); }));
    writer.join();
}

}  // namespace

}  // namespace atsp
