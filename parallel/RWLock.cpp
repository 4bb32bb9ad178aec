#include "parallel/RWLock.h"

namespace atsp {

RWLock::RWLock() : readerCount(0), resource(1) {}

RWLock::~RWLock() = default;

void RWLock::readLock() {
    const std::lock_guard<std::mutex> guard(countLock);
    ++readerCount;
    if (readerCount == 1) {
        // Still holding countLock: later readers queue behind this one while
        // it waits out a writer.
        resource.acquire();
    }
}

void RWLock::readUnlock() {
    const std::lock_guard<std::mutex> guard(countLock);
    --readerCount;
    if (readerCount == 0) {
        // Possibly acquired by another reader: see the header.
        resource.release();
    }
}

void RWLock::writeLock() {
    resource.acquire();
}

void RWLock::writeUnlock() {
    resource.release();
}

}  // namespace atsp
