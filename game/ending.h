// game/ending.h: the nine pages of the ending story.
#pragma once

#include <array>
#include <string>

namespace tw {

extern const std::array<std::string, 9> endingpages;

}  // namespace tw
