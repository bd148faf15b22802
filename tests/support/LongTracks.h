#pragma once

// The long GPX tracks that once froze or ended the program, for the tests and the benches.
// Written as GPS devices log them, in segments of a hundred points: GDAL grows a line a point
// at a time, which a sanitized build's realloc makes slow past some tens of thousands.

#include "geo/uClaseElipsoide.h"

#include <QFile>
#include <QString>

#include <cmath>
#include <cstdio>
#include <functional>

// A GPX of `points` points, the i-th at `at(i)`; false when the file cannot be written.
inline bool WriteGpx(const QString& path, int points, const std::function<GeoPoint(int)>& at) {
    constexpr int kSegmentPoints = 100;
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "w");
    if (!f) {
        return false;
    }
    std::fputs("<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"t\" "
               "xmlns=\"http://www.topografix.com/GPX/1/1\"><trk>\n",
               f);
    for (int i = 0; i < points; ++i) {
        if (i % kSegmentPoints == 0) {
            std::fputs("<trkseg>\n", f);
        }
        const GeoPoint p = at(i);
        std::fprintf(f, "<trkpt lat=\"%.7f\" lon=\"%.7f\"/>\n", p.latitude, p.longitude);
        if (i % kSegmentPoints == kSegmentPoints - 1 || i == points - 1) {
            std::fputs("</trkseg>\n", f);
        }
    }
    std::fputs("</trk></gpx>\n", f);
    return std::fclose(f) == 0;
}

// Zig-zags between 1.90° W and 1.42° W (some 40 km) while it climbs 40 km north: with 100 m
// tiles some 1,700 sheets of a kilometre along its corridor. A hundred thousand points make
// the 4.3 MB that took 87 s to refuse.
inline bool WriteZigZag(const QString& path, int points) {
    return WriteGpx(path, points, [points](int i) {
        return GeoPoint{42.60 + 0.36 * i / points, i % 2 == 0 ? -1.90 : -1.42};
    });
}

// Points a few centimetres apart, some 30 km east along 42.75° N with gentle bends: the
// density of a GPS log kept for days.
inline bool WriteDense(const QString& path, int points) {
    return WriteGpx(path, points, [points](int i) {
        return GeoPoint{42.75 + 0.002 * std::sin(i / 20000.0), -1.80 + 0.36 * i / points};
    });
}

// North and south over 20 km, `points` times, while it moves 15 km east: some 350 sheets of
// a kilometre, each segment crossing twenty rows of them.
inline bool WriteNorthAndSouth(const QString& path, int points) {
    return WriteGpx(path, points, [points](int i) {
        return GeoPoint{i % 2 == 0 ? 42.60 : 42.78, -1.90 + 0.18 * i / points};
    });
}
