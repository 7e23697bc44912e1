// platform/fnv_hash.h: 64-bit FNV-1a, which names the instance lock after the program's folder.
#pragma once

#include <cstdint>
#include <string_view>

namespace tw {

inline std::uint64_t fnv1a64(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

}  // namespace tw
