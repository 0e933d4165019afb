// Deterministic choices for the demo data. std::mt19937 gives the same
// numbers with every standard library; the distributions of <random> do not,
// so ranges are made here by plain modulo.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace demo {

class DemoRandom {
public:
    explicit DemoRandom(std::uint32_t seed) : engine_(seed) {}

    // 0 <= result < count (count > 0).
    int Below(int count) { return static_cast<int>(engine_() % static_cast<std::uint32_t>(count)); }
    // low <= result <= high.
    int Between(int low, int high) { return low + Below(high - low + 1); }
    // True in `percent` cases out of a hundred.
    bool Chance(int percent) { return Below(100) < percent; }
    // True in `perMille` cases out of a thousand.
    bool ChancePerMille(int perMille) { return Below(1000) < perMille; }

    template <typename T>
    const T& Pick(const std::vector<T>& items) { return items[static_cast<std::size_t>(Below(static_cast<int>(items.size())))]; }

    // Decimal digits, leading zeros kept.
    std::string Digits(int count)
    {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += static_cast<char>('0' + Below(10));
        return text;
    }

private:
    std::mt19937 engine_;
};

}  // namespace demo
