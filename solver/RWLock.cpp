#include "solver/RWLock.h"

RWLock::RWLock() : readerCount(0) {
    omp_init_lock(&countLock);
    omp_init_lock(&resourceLock);
}

RWLock::~RWLock() {
    omp_destroy_lock(&countLock);
    omp_destroy_lock(&resourceLock);
}

void RWLock::readLock() {
    omp_set_lock(&countLock);
    ++readerCount;
    if (readerCount == 1) {
        // Still holding countLock: later readers queue behind this one while
        // it waits out a writer.
        omp_set_lock(&resourceLock);
    }
    omp_unset_lock(&countLock);
}

void RWLock::readUnlock() {
    omp_set_lock(&countLock);
    --readerCount;
    if (readerCount == 0) {
        // Possibly acquired by another reader: see the header.
        omp_unset_lock(&resourceLock);
    }
    omp_unset_lock(&countLock);
}

void RWLock::writeLock() {
    omp_set_lock(&resourceLock);
}

void RWLock::writeUnlock() {
    omp_unset_lock(&resourceLock);
}
