// Memory allocator set-up for long-running processes.
#pragma once

namespace vltr {

// Keeps the allocator to two arenas unless MALLOC_ARENA_MAX says otherwise.
// The service's threads allocate little and rarely at once, but every thread
// would otherwise get an arena of its own, and the memory each one frees
// stays with it: with 500 printers that doubled the service's heap.
void UseFewAllocatorArenas();

} // namespace vltr
