#include "gdalbase/GdalBase.h"

#include <cpl_error.h>

#include <mutex>

namespace {

// GDAL's block cache defaults to a twentieth of the memory; the exports stream their data
// through it, so a little is as fast and keeps a run's memory bounded.
constexpr GIntBig kBlockCacheBytes = 64ll * 1024 * 1024;

} // namespace

void EnsureGdal() {
    static std::once_flag once;
    std::call_once(once, [] {
        GDALAllRegister();
        GDALSetCacheMax64(kBlockCacheBytes);
    });
}

GdalErrorCapture::GdalErrorCapture() {
    CPLErrorReset();
    CPLPushErrorHandlerEx(&GdalErrorCapture::Handler, this);
}

GdalErrorCapture::~GdalErrorCapture() {
    CPLPopErrorHandler();
}

void CPL_STDCALL GdalErrorCapture::Handler(CPLErr level, CPLErrorNum, const char* message) {
    auto* self = static_cast<GdalErrorCapture*>(CPLGetErrorHandlerUserData());
    if (self != nullptr && level >= CE_Failure && message != nullptr) {
        self->m_last = message;
    }
}

QString GdalErrorCapture::reason(const QString& fallback) const {
    return m_last.empty() ? fallback : QStringLiteral("GDAL: ") + message();
}
