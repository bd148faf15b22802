#include "geo/GdalSupport.h"

#include <cpl_error.h>
#include <gdal.h>

#include <mutex>

void RegisterGdalDrivers() {
    static std::once_flag registered;
    std::call_once(registered, [] { GDALAllRegister(); });
}

void GdalDatasetCloser::operator()(void* dataset) const {
    GDALClose(dataset);
}

QuietGdalErrors::QuietGdalErrors() {
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
}

QuietGdalErrors::~QuietGdalErrors() {
    CPLPopErrorHandler();
}

bool QuietGdalErrors::failed() const {
    return CPLGetLastErrorType() >= CE_Failure;
}

QString QuietGdalErrors::message() const {
    return QString::fromUtf8(CPLGetLastErrorMsg());
}
