#include "engine/files/os_error.h"

#include <cerrno>

#include "engine/base/error_context.h"

namespace tarn {

namespace {
thread_local int ThreadLastOsError = 0;
}  // namespace

TErrorCode MapOsError(int errNo) {
  switch (errNo) {
    case ENOENT:
    case ENOTDIR:
      return TARN_OSENOENT;
    case EMFILE:
    case ENFILE:
      return TARN_OSEMFILE;
    case EACCES:
    case EPERM:
    case EWOULDBLOCK:  // a refused non-blocking flock: another user has the file
      return TARN_OSEACCES;
    case EBADF:
      return TARN_OSEBADF;
    case ENOMEM:
      return TARN_OSENOMEM;
    case ENODEV:
    case ENXIO:
      return TARN_OSENODEV;
    case EXDEV:
      return TARN_OSENOTSAM;
    default:
      return TARN_OSUNKNOWN;
  }
}

int LastOsError() { return ThreadLastOsError; }

void SetLastOsError(int errNo) { ThreadLastOsError = errNo; }

int NegatedOsError(int errNo) {
  SetLastOsError(errNo);
  return -static_cast<int>(MapOsError(errNo));
}

void RaiseFileError(TErrorCode code, std::string_view fileName) {
  // RaiseEngineError takes the context's OS error from errno.
  errno = LastOsError();
  RaiseEngineError(code, {.Table = fileName});
}

}  // namespace tarn
