#include "engine/files/os_error.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "engine/base/engine_error.h"

namespace tarn {
namespace {

TEST(OsErrorTest, MapsErrnoOntoEngineCodes) {
  struct TCase {
    int ErrNo;
    TErrorCode Code;
  };
  const TCase cases[] = {
      {ENOENT, TARN_OSENOENT}, {ENOTDIR, TARN_OSENOENT}, {EMFILE, TARN_OSEMFILE},
      {ENFILE, TARN_OSEMFILE}, {EACCES, TARN_OSEACCES},  {EPERM, TARN_OSEACCES},
      {EWOULDBLOCK, TARN_OSEACCES}, {EBADF, TARN_OSEBADF}, {ENOMEM, TARN_OSENOMEM},
      {ENODEV, TARN_OSENODEV}, {ENXIO, TARN_OSENODEV},   {EXDEV, TARN_OSENOTSAM},
      {EIO, TARN_OSUNKNOWN},   {ENOSPC, TARN_OSUNKNOWN}, {EEXIST, TARN_OSUNKNOWN},
      {0, TARN_OSUNKNOWN},
  };
  for (const TCase& c : cases) EXPECT_EQ(MapOsError(c.ErrNo), c.Code) << "errno " << c.ErrNo;
}

TEST(OsErrorTest, RaiseKeepsErrnoAndFileNameInTheContext) {
  EXPECT_EQ(NegatedOsError(EMFILE), -static_cast<int>(TARN_OSEMFILE));
  EXPECT_EQ(LastOsError(), EMFILE);
  errno = 0;  // the recorded value counts, not whatever errno holds by now
  try {
    RaiseFileError(TARN_OSEMFILE, "/data/quiz.DAT");
    FAIL() << "no exception";
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_OSEMFILE);
    EXPECT_EQ(e.OSErrorCode(), EMFILE);
    EXPECT_EQ(e.ErrorTable(), "/data/quiz.DAT");
  }
  SetLastOsError(0);
}

}  // namespace
}  // namespace tarn
