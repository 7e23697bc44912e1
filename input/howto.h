// input/howto.h: the thirteen how-to-play pages.
#pragma once

#include <array>
#include <string>

namespace tw {

extern const std::array<std::string, 13> howtopages;

}  // namespace tw
