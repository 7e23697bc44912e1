// platform/linux/instance_lock.h: one running copy per program folder, held with flock().
#pragma once

#include <string>

namespace tw {

// The lock file for a program folder: in $XDG_RUNTIME_DIR (or /tmp), named after a hash of the
// folder's canonical path, so the folder itself is never written to.
std::string instanceLockPath(const std::string& programFolder);

// True when another process holds the lock for this folder. Otherwise this process takes it and
// keeps it until it ends; the kernel lets go of it however the process ends, so a crashed copy
// never blocks the next start. A lock that cannot be checked at all counts as free.
bool anotherInstanceRunning(const std::string& programFolder);

}  // namespace tw
