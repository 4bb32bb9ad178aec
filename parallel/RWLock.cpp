#include "parallel/RWLock.h"

namespace atsp {

RWLock::RWLock() : readerCount(0) {}

RWLock::~RWLock() = default;

void RWLock::readLock() {
    const std::lock_guard<std::mutex> guard(countLock);
    ++readerCount;
    if (readerCount == 1) {
        // Still holding countLock: later readers queue behind this one while
        // it waits out a writer.
        acquireResource();
    }
}

void RWLock::readUnlock() {
    const std::lock_guard<std::mutex> guard(countLock);
    --readerCount;
    if (readerCount == 0) {
        // Possibly acquired by another reader: see the header.
        releaseResource();
    }
}

void RWLock::acquireResource() {
    std::unique_lock<std::mutex> guard(resourceLock);
    resourceFreed.wait(guard, [this] { return !resourceHeld; });
    resourceHeld = true;
}

void RWLock::releaseResource() {
    {
        const std::lock_guard<std::mutex> guard(resourceLock);
        resourceHeld = false;
    }
    resourceFreed.notify_one();
}

void RWLock::writeLock() {
    acquireResource();
}

void RWLock::writeUnlock() {
    releaseResource();
}

}  // namespace atsp
