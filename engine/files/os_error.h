#pragma once
// Mapping of operating-system errors onto engine codes, and the per-thread
// record of the last one.
//
// The routines below the file handler return negated engine codes; the errno
// that caused them is kept per thread in LastOsError so that the handler can
// put it, with the file's name, into the error context when it raises the
// code (RaiseFileError).

#include <string_view>

#include "engine/base/error_codes.h"

namespace tarn {

// The engine code for an errno value:
//   ENOENT, ENOTDIR                       11010 TARN_OSENOENT
//   EMFILE, ENFILE                        11012 TARN_OSEMFILE
//   EACCES, EPERM, EAGAIN/EWOULDBLOCK     11013 TARN_OSEACCES  (EWOULDBLOCK is a
//                                                refused flock: a sharing violation)
//   EBADF                                 11014 TARN_OSEBADF
//   ENOMEM                                11016 TARN_OSENOMEM
//   ENODEV, ENXIO                         11023 TARN_OSENODEV
//   EXDEV                                 11025 TARN_OSENOTSAM
//   anything else (0 included)            11047 TARN_OSUNKNOWN
TErrorCode MapOsError(int errNo);

// The calling thread's last recorded OS error (0 when none).
int LastOsError();
// Records errNo as the calling thread's last OS error.
void SetLastOsError(int errNo);
// Records errNo and returns -MapOsError(errNo), the form the file objects and
// the file list return.
int NegatedOsError(int errNo);

// Raises code as an engine error naming fileName (the table item of the
// context), with the thread's last recorded OS error as the context's OS error.
[[noreturn]] void RaiseFileError(TErrorCode code, std::string_view fileName);

}  // namespace tarn
