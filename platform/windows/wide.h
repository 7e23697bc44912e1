// platform/windows/wide.h: the core keeps texts in UTF-8; Windows wants UTF-16.
#pragma once

#include <string>

namespace tw {

// Malformed input becomes U+FFFD.
std::wstring widen(const std::string& utf8);
std::string narrowUtf8(const std::wstring& wide);

}  // namespace tw
