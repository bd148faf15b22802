#pragma once

// What every use of GDAL in this folder shares: the drivers registered once, datasets
// closed by their holder, and GDAL's messages kept off the terminal.

#include <QString>

#include <memory>

// Registers GDAL's drivers the first time it is called, from whichever thread.
void RegisterGdalDrivers();

struct GdalDatasetCloser {
    void operator()(void* dataset) const;
};
using GdalDataset = std::unique_ptr<void, GdalDatasetCloser>;

// GDAL's messages stay off the terminal while it lives, on this thread; the last one is
// kept to say what went wrong.
class QuietGdalErrors {
public:
    QuietGdalErrors();
    ~QuietGdalErrors();
    QuietGdalErrors(const QuietGdalErrors&) = delete;
    QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;

    bool failed() const;
    QString message() const;
};
