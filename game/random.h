// game/random.h: the game's one random generator, the same sequence on every compiler.
#pragma once

#include <cstdint>
#include <deque>

namespace tw {

class Random {
public:
    void seed(std::uint64_t value);
    // r with 0 <= r < 1. Scripted values, when given, come first and in order.
    double next();
    // A draw from 1..n: floor(r * n) + 1.
    int draw(int n) { return static_cast<int>(next() * n) + 1; }
    // A list position 0..n-1: floor(r * n).
    int position(int n) { return static_cast<int>(next() * n); }
    // Tests force each draw with these.
    void script(std::initializer_list<double> values) { scripted_.insert(scripted_.end(), values); }
    std::size_t scriptedLeft() const { return scripted_.size(); }

private:
    std::uint64_t s_[4] = {0x9E3779B97F4A7C15ull, 0xBF58476D1CE4E5B9ull, 0x94D049BB133111EBull, 1};
    std::deque<double> scripted_;
};

}  // namespace tw
