// The registry store: the registry file on disk, cached and locked.
//
// Readers get an immutable parsed snapshot; an unchanged file costs one
// stat(). Writers change a copy under an exclusive lock shared by every
// process and replace the file atomically, so the service and the utility
// never lose each other's writes and a reader never sees half a file.
#pragma once

#include "outside/registry_file.h"

#include <functional>
#include <memory>
#include <string>

namespace vltr::reg {

using Snapshot = std::shared_ptr<const Key>;

// $VLTR_REGISTRY, else /etc/vltrprintq/registry.reg (read at every call).
std::string registryFilePath();

// The registry as it is now. Returns VLREG_OK, VLREG_BAD_FILE (damaged file)
// or VLREG_ACCESS / VLREG_IO_ERROR (the file cannot be read). A missing file
// is an empty registry.
int loadRegistry(Snapshot *snapshot);

// A change of the tree. It returns VLREG_OK to keep the change (and sets
// changed when there is something to write) or an error code to drop it.
using Change = std::function<int(Key &root, bool &changed)>;

// Runs change on the current contents under the cross-process lock and writes
// the result. A damaged file is never overwritten (VLREG_BAD_FILE).
int changeRegistry(const Change &change);

// The reason of the calling thread's last VLREG_BAD_FILE, VLREG_ACCESS or
// VLREG_IO_ERROR from the store (the line that was logged), else empty.
std::string lastStoreError();

} // namespace vltr::reg
