// platform/linux/instance_lock.h: one running copy per program folder, held with flock().
#pragma once

#include <string>

namespace tw {

// True when another process holds the lock for this folder. Otherwise this process takes it and
// keeps it until it ends; the kernel lets go of it however the process ends, so a crashed copy
// never blocks the next start. The lock is on the folder itself (flock on the folder), so every
// way of reaching it — a symbolic link, a bind mount, another runtime folder — finds the same
// lock, and nothing is written anywhere. A folder that cannot be opened counts as free.
bool anotherInstanceRunning(const std::string& programFolder);

}  // namespace tw
