// A readers-writer lock built from two mutexes, a condition variable and a
// counter.
//
// It guards the incumbent of a search on a team (Incumbent.h): a thread that
// finds a cheaper tour rewrites tour and cost under the write lock, and, in
// the search as first built, every expansion reads the cost under the read
// lock.
//
// How it works. `resource` stands for the guarded data. A writer holds it
// alone. Readers hold it as a group: the first reader in (the one that raises
// `readerCount` from 0 to 1) acquires it on behalf of all, and the last reader
// out (the one that lowers the count to 0) releases it. `countLock` guards the
// count and serialises these two decisions.
//
//   state        readerCount   resource
//   free         0             free
//   read-held    >= 1          held for all current readers
//   write-held   0             held by the one writer
//
// Readers have preference: while any reader is inside, further readers walk
// in at once, so a writer waits until the readers' overlap ends. A first
// reader that meets a writer waits for `resource` while still holding
// `countLock`, so every later reader queues behind it on `countLock`; when the
// writer leaves they all get in together. Lock order: `countLock` before
// `resource`; a writer takes only `resource`.
//
// Why a permit of its own: the reader that acquired `resource` is in general
// not the last one out, so the release comes from a different thread. A mutex
// (or an OpenMP lock) must be released by the thread that holds it. So
// `resource` is a flag under its own mutex with a condition variable, which
// any thread may clear. (std::binary_semaphore has that contract too, but
// libstdc++ 12's could sleep through a release: under ThreadSanitizer, 8 of
// 150 runs of the heavy mixed-use test hung.) `countLock` is always released
// by the thread that took it: an ordinary mutex.
//
// Usage: readLock() ... readUnlock() and writeLock() ... writeUnlock() in
// pairs on one thread. The lock is not re-entrant: a thread holding it in
// either mode must not take it again. `readerCount` is a plain integer
// touched only under `countLock`.
#pragma once

#include <cstdint>
#include <condition_variable>
#include <mutex>

namespace atsp {

class RWLock {
  public:
    RWLock();
    ~RWLock();

    // It lives inside the shared record it guards and is never copied or
    // moved: mutexes and condition variables have no copy semantics.
    RWLock(const RWLock&) = delete;
    RWLock& operator=(const RWLock&) = delete;

    // Enter as a reader; blocks while a writer holds the lock.
    void readLock();
    // Leave as a reader; the last reader out lets writers in again.
    void readUnlock();
    // Enter as the only user; blocks while any reader or writer is inside.
    void writeLock();
    void writeUnlock();

  private:
    std::int32_t readerCount;  // readers inside now; guarded by countLock
    std::mutex countLock;
    // `resource`: held by one writer or by all readers together.
    bool resourceHeld = false;  // guarded by resourceLock
    std::mutex resourceLock;
    std::condition_variable resourceFreed;

    void acquireResource();
    void releaseResource();
};

}  // namespace atsp
