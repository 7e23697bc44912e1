// game/random.cpp: xoshiro256** seeded through splitmix64.
#include "game/random.h"

namespace tw {

namespace {
std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
}  // namespace

void Random::seed(std::uint64_t value) {
    for (auto& word : s_) {
        value += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = value;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        word = z ^ (z >> 31);
    }
    scripted_.clear();
}

double Random::next() {
    if (!scripted_.empty()) {
        double r = scripted_.front();
        scripted_.pop_front();
        return r;
    }
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return static_cast<double>(result >> 11) * 0x1.0p-53;
}

}  // namespace tw
