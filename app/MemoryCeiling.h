// A ceiling on the solver's address space at the memory the machine has.
//
// Linux over-commits: an allocation beyond the machine's memory succeeds, and
// when the pages are touched the kernel's out-of-memory killer ends the
// largest process with SIGKILL. The solver is that process, and it would die
// without a word. With its address space capped at the memory available at
// start (free and reclaimable memory plus free swap), an allocation that
// cannot be backed fails inside the program instead, where the new-handler
// reports it. The search's address space is its resident memory plus a few
// hundred MiB of untouched reservations (thread stacks, allocator arenas), so
// the cap takes effect slightly before the kernel would act.
#pragma once

#include <cstdint>
#include <string_view>

namespace atsp {

// Bytes of memory available to a new process by the text of /proc/meminfo:
// MemAvailable plus SwapFree. Zero when MemAvailable is missing (kernels
// before 3.14, or an unreadable file): nothing is known.
std::uint64_t availableMemoryBytes(std::string_view meminfoText);

// Lowers the soft address-space limit to the available memory. An existing
// lower limit (ulimit -v) is kept, and nothing is done when the available
// memory is unknown or in builds with AddressSanitizer or ThreadSanitizer,
// whose shadow memory reserves far more address space than the program uses.
void capAddressSpaceAtAvailableMemory();

}  // namespace atsp
