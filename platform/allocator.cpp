#include "platform/allocator.h"

#include <cstdlib>
#include <malloc.h>

namespace vltr {

void UseFewAllocatorArenas() {
  if (std::getenv("MALLOC_ARENA_MAX") != nullptr)
    return;
  mallopt(M_ARENA_MAX, 2);
}

} // namespace vltr
