// Releasing, on a thread of its own, what the caller no longer needs but
// should not wait for.
//
// Why: a search stopped at its time limit still holds its open nodes, up to
// millions of them, and freeing them one by one takes about a second per
// million. Done in place, that second would come after the limit, before the
// report. Released in the background, it overlaps the report (and, in the
// program, the process's exit, which ends the thread with it).
//
// What is handed over must own everything it refers to: the thread may run
// after the caller's objects are gone. Search nodes qualify (their
// constraint records are shared under atomic counts, ConstraintChain.h).
#pragma once

#include <memory>
#include <system_error>
#include <thread>
#include <utility>

namespace atsp {

// Destroys `held` (its last owner) on a detached thread; in place when no
// thread can be started.
inline void releaseInBackground(std::shared_ptr<void> held) {
    if (!held) {
        return;
    }
    try {
        std::thread([last = std::move(held)]() mutable { last.reset(); }).detach();
    } catch (const std::system_error&) {
        // The closure, and with it `last`, is destroyed here.
    }
}

}  // namespace atsp
