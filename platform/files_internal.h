// platform/files_internal.h: helpers the file layer's platform parts share; not for the game.
#pragma once

#include <string>
#include <string_view>

namespace tw::files {

std::string temporaryNameFor(long long pid);
// The process id in a temporary name; -1 when name is not one.
long long temporaryPid(std::string_view name);

}  // namespace tw::files
