// A readers-writer lock built from two OpenMP simple locks and a counter.
//
// It guards the incumbent of the parallel search: every node expansion reads
// the best known cost under the read lock, and the rare thread that finds a
// cheaper tour rewrites tour and cost under the write lock.
//
// How it works. `resourceLock` stands for the guarded data. A writer holds it
// alone. Readers hold it as a group: the first reader in (the one that raises
// `readerCount` from 0 to 1) acquires it on behalf of all, and the last reader
// out (the one that lowers the count to 0) releases it. `countLock` guards the
// count and serialises these two decisions.
//
//   state        readerCount   resourceLock
//   free         0             free
//   read-held    >= 1          held for all current readers
//   write-held   0             held by the one writer
//
// Readers have preference: while any reader is inside, further readers walk
// in at once, so a writer waits until the readers' overlap ends. A first
// reader that meets a writer waits for `resourceLock` while still holding
// `countLock`, so every later reader queues behind it on `countLock`; when the
// writer leaves they all get in together. Lock order: `countLock` before
// `resourceLock`; a writer takes only `resourceLock`.
//
// Why a lock may be released by another thread: the reader that acquired
// `resourceLock` is in general not the last one out, so the release comes
// from a different thread. The lock must therefore behave as a semaphore with
// one permit, not as an owned mutex. The GNU OpenMP runtime's simple locks
// behave so (they keep no owner), and nothing else here relies on ownership.
//
// Usage: readLock() ... readUnlock() and writeLock() ... writeUnlock() in
// pairs on one thread. The lock is not re-entrant: a thread holding it in
// either mode must not take it again. No atomics: `readerCount` is a plain
// integer touched only under `countLock`.
#pragma once

#include <omp.h>

#include <cstdint>

class RWLock {
  public:
    RWLock();
    ~RWLock();

    // It lives inside the shared record it guards and is never copied or
    // moved: OpenMP locks have no copy semantics.
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
    omp_lock_t countLock;
    omp_lock_t resourceLock;  // held by one writer or by all readers together
};
