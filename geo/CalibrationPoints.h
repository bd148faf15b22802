#pragma once

#include "job/DownloadJob.h"

#include <array>
#include <cstdint>

// A point known both in the joined image (pixels from its top-left corner, x to the right,
// y downwards) and on the ground (full UTM metres). An entry whose easting is 0 is empty.
struct CalibrationPoint {
    int32_t x = 0;
    int32_t y = 0;
    int32_t easting = 0;
    int32_t northing = 0;

    bool empty() const { return easting == 0; }
    bool operator==(const CalibrationPoint& o) const {
        return x == o.x && y == o.y && easting == o.easting && northing == o.northing;
    }
};

constexpr int kCalibrationPointCount = 9;
constexpr int kCalibrationCornerCount = 4;

using CalibrationPointList = std::array<CalibrationPoint, kCalibrationPointCount>;
using CalibrationCornerList = std::array<CalibrationPoint, kCalibrationCornerCount>;

// The reference points of a run and the outline of its image.
struct CalibrationLists {
    // Entry 1: upper-left pixel; entry 2: lower-right pixel (W, H); the rest empty.
    CalibrationPointList points{};
    // Upper-left, upper-right, lower-right, lower-left.
    CalibrationCornerList corners{};
};

// The lists for the job's values as they stand, even after a stopped area recompute.
CalibrationLists BuildCalibrationLists(const DownloadJob& job);
