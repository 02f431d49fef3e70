#pragma once
// A small generator of our own, so that a seed gives the same sample file
// with every compiler and library: xoshiro256** seeded by splitmix64, and
// normal deviates from plain arithmetic (no library transcendentals).
#include <cstdint>

namespace tools {

class Random {
public:
    explicit Random(uint64_t seed) {
        for (uint64_t& word : s_) word = splitmix(seed);
    }

    uint64_t next() {
        const uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }

    // Uniform on [0, 1) with 53 random bits.
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

    // Uniform integer in lo..hi inclusive (the tiny modulo bias does not matter here).
    int32_t between(int32_t lo, int32_t hi) {
        return lo + static_cast<int32_t>(next() % static_cast<uint64_t>(hi - lo + 1));
    }

    // Approximately standard normal: a sum of four uniforms has the right
    // shape for this purpose and stays within +-3.46.
    double normal() {
        const double sum = uniform() + uniform() + uniform() + uniform();
        return (sum - 2.0) * 1.7320508075688772;
    }

private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    static uint64_t splitmix(uint64_t& state) {
        uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    uint64_t s_[4];
};

}  // namespace tools
