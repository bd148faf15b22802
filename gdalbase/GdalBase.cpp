#include "gdalbase/GdalBase.h"

#include <cpl_error.h>

#include <cerrno>
#include <mutex>

namespace {

// GDAL's block cache defaults to a twentieth of the memory; the exports stream their data
// through it, so a little is as fast and keeps a run's memory bounded.
constexpr GIntBig kBlockCacheBytes = 64ll * 1024 * 1024;

// Errors a failed write leaves and no failed look for a file does.
bool OnlyAWriteGives(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO;
}

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
    // What an earlier failure on this thread left is not this one's.
    errno = 0;
    CPLPushErrorHandlerEx(&GdalErrorCapture::Handler, this);
}

GdalErrorCapture::~GdalErrorCapture() {
    CPLPopErrorHandler();
}

void CPL_STDCALL GdalErrorCapture::Handler(CPLErr level, CPLErrorNum, const char* message) {
    const int error = errno; // before anything here changes it
    auto* self = static_cast<GdalErrorCapture*>(CPLGetErrorHandlerUserData());
    if (self != nullptr && level >= CE_Failure && message != nullptr) {
        if (self->m_last.empty() && OnlyAWriteGives(error)) {
            self->m_writeErrno = error;
        }
        self->m_last = message;
    }
}

QString GdalErrorCapture::reason(const QString& fallback) const {
    return m_last.empty() ? fallback : QStringLiteral("GDAL: ") + message();
}

std::optional<LocalWriteError> GdalWriteCause(const GdalErrorCapture& errors,
                                              const QString& folder) {
    // Some of GDAL's steps fail without a message (its zip writer): errno may still say why.
    const int now = errno;
    if (std::optional<LocalWriteError> refusal = FolderRefusal(folder)) {
        return refusal;
    }
    if (errors.writeErrno() != 0) {
        return LocalWriteErrorFor(errors.writeErrno());
    }
    if (OnlyAWriteGives(now)) {
        return LocalWriteErrorFor(now);
    }
    return std::nullopt;
}
