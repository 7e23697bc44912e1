// platform/files_internal.h: helpers the file layer's platform parts share; not for the game.
#pragma once

#include <string>
#include <string_view>

#include "platform/files.h"

namespace tw::files {

std::string temporaryNameFor(long long pid);
// The process id in a temporary name; -1 when name is not one.
long long temporaryPid(std::string_view name);
// True when the tests' fault hook makes this step of a write fail; each platform then sets its
// own error code, so the reason reads as an input/output error.
bool faultInjected(Step step);
// The platform's own way of making the folder's changes last (see setFolderSync); none: done.
Outcome platformFolderSync();
// True where the platform's own sync makes files last (the browser's storage): the system's
// file and folder syncs are left out there, as they would only sync the same storage again.
bool platformSyncsFiles();

}  // namespace tw::files
