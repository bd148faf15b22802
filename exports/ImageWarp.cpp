#include "exports/ImageWarp.h"

#include "exports/GdalSupport.h"

#include <gdal_alg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// gdalwarp's default: the approximation along a row may be off by an eighth of a pixel.
constexpr double kMaxApproximationError = 0.125;
// Bilinear weights in fixed point: eleven bits keep each pixel within half a level of GDAL's
// doubles, and two of them multiplied by a byte still fit 32 bits.
constexpr int kWeightBits = 11;
constexpr int kWeightOne = 1 << kWeightBits;

// A dataset without bands that only places a grid, as GDAL's transformer takes one.
GdalDataset PlacedGrid(int width, int height, const std::array<double, 6>& transform, int epsg) {
    GDALDriverH memory = GDALGetDriverByName("MEM");
    if (memory == nullptr) {
        return nullptr;
    }
    GdalDataset grid(GDALCreate(memory, "", width, height, 0, GDT_Byte, nullptr));
    std::array<double, 6> t = transform;
    if (!grid || GDALSetGeoTransform(grid.get(), t.data()) != CE_None ||
        GDALSetProjection(grid.get(), EpsgWkt(epsg).c_str()) != CE_None) {
        return nullptr;
    }
    return grid;
}

// One row of the target from the points its pixels' centres fall on in the image, for a
// pixel layout known when compiled: `Bytes` a pixel, red, green and blue at R, G and B.
template <int Bytes, int R, int G, int B>
void Resample(const SourcePixels& s, const double* xs, const double* ys, const int* ok, int width,
              uint8_t* out) {
    const int lastX = s.width - 1;
    const int lastY = s.height - 1;
    constexpr int kHalf = 1 << (2 * kWeightBits - 1);
    for (int i = 0; i < width; ++i, out += 4) {
        const double sx = xs[i];
        const double sy = ys[i];
        // On the image when the centre falls on one of its pixels, as GDAL's warper takes it.
        if (!ok[i] || !(sx >= 0.0) || !(sy >= 0.0) || static_cast<int>(sx + 1e-10) >= s.width ||
            static_cast<int>(sy + 1e-10) >= s.height) {
            std::memset(out, 0, 4);
            continue;
        }
        // The four pixel centres around the point; past the image's edge the edge pixel stands
        // in, which is GDAL's renormalised weight for a missing neighbour. sx and sy are at
        // least 0 here, so a cast from one more rounds down.
        const double u = sx - 0.5;
        const double v = sy - 0.5;
        const int left = static_cast<int>(u + 1.0) - 1;
        const int top = static_cast<int>(v + 1.0) - 1;
        const int wx = static_cast<int>((u - left) * kWeightOne + 0.5);
        const int wy = static_cast<int>((v - top) * kWeightOne + 0.5);
        const uchar* upper = s.bits + std::clamp(top, 0, lastY) * s.lineBytes;
        const uchar* lower = s.bits + std::clamp(top + 1, 0, lastY) * s.lineBytes;
        const uchar* a = upper + std::clamp(left, 0, lastX) * Bytes;
        const uchar* b = upper + std::clamp(left + 1, 0, lastX) * Bytes;
        const uchar* c = lower + (a - upper);
        const uchar* d = lower + (b - upper);
        const auto mix = [&](int o) {
            const int above = a[o] * (kWeightOne - wx) + b[o] * wx;
            const int below = c[o] * (kWeightOne - wx) + d[o] * wx;
            return static_cast<uint8_t>((above * (kWeightOne - wy) + below * wy + kHalf) >>
                                        (2 * kWeightBits));
        };
        out[0] = mix(R);
        out[1] = mix(G);
        out[2] = mix(B);
        out[3] = 255;
    }
}

} // namespace

ImageWarp::ImageWarp(const SourcePixels& source, const GridArea& area, const TargetGrid& target,
                     const std::string& pipeline)
    : m_source(source) {
    EnsureGdal();
    const GdalDataset from = PlacedGrid(source.width, source.height, area.geoTransform(), 23030);
    const GdalDataset to =
        PlacedGrid(target.width, target.height, target.geoTransform, MovedCrsEpsg(target.crs));
    if (!from || !to || source.bits == nullptr || pipeline.empty()) {
        return;
    }
    // As gdalwarp -ct does: the operation given, not one PROJ would choose.
    GdalArguments options{"COORDINATE_OPERATION=" + pipeline};
    void* exact = GDALCreateGenImgProjTransformer2(from.get(), to.get(), options.list());
    if (exact == nullptr) {
        return;
    }
    m_transformer =
        GDALCreateApproxTransformer(GDALGenImgProjTransform, exact, kMaxApproximationError);
    if (m_transformer == nullptr) {
        GDALDestroyGenImgProjTransformer(exact);
        return;
    }
    GDALApproxTransformerOwnsSubtransformer(m_transformer, TRUE);
}

ImageWarp::~ImageWarp() {
    if (m_transformer != nullptr) {
        GDALDestroyApproxTransformer(m_transformer);
    }
}

bool ImageWarp::warp(int x, int y, int width, int rows, uint8_t* rgba, size_t lineBytes) {
    if (m_transformer == nullptr || width <= 0 || rows <= 0) {
        return m_transformer != nullptr;
    }
    const auto size = static_cast<size_t>(width);
    m_x.resize(size);
    m_y.resize(size);
    m_z.resize(size);
    m_ok.resize(size);
    const SourcePixels& s = m_source;
    for (int r = 0; r < rows; ++r) {
        // The centres of the row's pixels, moved back onto the image's pixels.
        for (size_t i = 0; i < size; ++i) {
            m_x[i] = x + static_cast<double>(i) + 0.5;
            m_y[i] = y + r + 0.5;
            m_z[i] = 0.0;
        }
        if (!GDALApproxTransform(m_transformer, TRUE, width, m_x.data(), m_y.data(), m_z.data(),
                                 m_ok.data())) {
            return false;
        }
        uint8_t* out = rgba + static_cast<size_t>(r) * lineBytes;
        if (s.pixelBytes == 3) {
            Resample<3, 0, 1, 2>(s, m_x.data(), m_y.data(), m_ok.data(), width, out);
        } else if (s.offsets[0] == 2) {
            Resample<4, 2, 1, 0>(s, m_x.data(), m_y.data(), m_ok.data(), width, out);
        } else {
            Resample<4, 1, 2, 3>(s, m_x.data(), m_y.data(), m_ok.data(), width, out);
        }
    }
    return true;
}
