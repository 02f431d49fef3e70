#pragma once
// What a run extracts: the span, the box's bounds and the accepted fraction
// of missing months, with the rules both front ends apply to them.
#include <cstdint>

namespace extract {

struct Request {
    int32_t iyr1 = 0;
    int32_t iyr2 = 0;
    float latmax = 0.0f;
    float latmin = 0.0f;
    float lonmin = 0.0f;
    float lonmax = 0.0f;
    float pctmiss = 0.0f;
};

// Bounds beyond the outermost mid-points are moved onto them.
inline constexpr float kNorthMost = 76.25f;
inline constexpr float kSouthMost = -58.75f;
inline constexpr float kWestMost = -178.75f;
inline constexpr float kEastMost = 178.75f;

inline float clamp_north(float latmax) { return latmax > kNorthMost ? kNorthMost : latmax; }
inline float clamp_south(float latmin) { return latmin < kSouthMost ? kSouthMost : latmin; }
inline float clamp_west(float lonmin) { return lonmin < kWestMost ? kWestMost : lonmin; }
inline float clamp_east(float lonmax) { return lonmax > kEastMost ? kEastMost : lonmax; }
// After the clamps: the lower bound above the upper one is refused.
inline bool inverted(float low, float high) { return low > high; }

}  // namespace extract
