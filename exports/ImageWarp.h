#pragma once

// The joined image moved onto the pixel grid of another CRS, bilinear, the way GDAL's warper
// does it: the same transformer from the target's pixels to the image's, through the given
// PROJ pipeline, approximated along each row to an eighth of a pixel, and the same kernel.
// The pixels go straight into the caller's buffer, any block of the grid at a time, so the
// moved image never needs to be whole in memory and blocks can be made on several threads.

#include "exports/ExportGeometry.h"
#include "exports/GdalSupport.h"

#include <QImage>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The pixel grid the image is moved onto.
struct TargetGrid {
    MovedCrs crs = MovedCrs::WebMercator;
    // GDAL's six numbers: upper-left corner and pixel size, in the CRS's x and y.
    std::array<double, 6> geoTransform{};
    int width = 0;
    int height = 0;
};

// One per thread: GDAL's transformers must not be shared between threads.
class ImageWarp {
public:
    // `area` places the image on ED50 / UTM 30N; `pipeline` goes from there to the target's CRS
    // (see PipelineTo).
    ImageWarp(const SourcePixels& source, const GridArea& area, const TargetGrid& target,
              const std::string& pipeline);
    ~ImageWarp();
    ImageWarp(const ImageWarp&) = delete;
    ImageWarp& operator=(const ImageWarp&) = delete;

    // False when GDAL could not make the transformer (see GdalErrorCapture for why).
    bool valid() const { return m_transformer != nullptr; }

    // The target's pixels [x, x + width) x [y, y + rows) as red, green, blue and alpha bytes,
    // `lineBytes` apart: alpha 255 where the pixel's centre falls on the image, all four bytes
    // 0 elsewhere. False when the transformer fails.
    bool warp(int x, int y, int width, int rows, uint8_t* rgba, size_t lineBytes);

private:
    SourcePixels m_source;
    void* m_transformer = nullptr;
    std::vector<double> m_x, m_y, m_z;
    std::vector<int> m_ok;
};
