#pragma once
// The engine cursor's open-blob operations, as a blob stream uses them.
//
// A blob buffer is opened for one blob field of one record buffer and found
// again by (field number, record buffer). Every operation answers an engine
// error code (0 = success) instead of raising for the conditions it reports:
//   OpenBlob      9494 too many open blobs, 8708 the record changed on disk
//   ReadBlob      8711 fewer bytes than asked were left (count says how many),
//                 9998 the offset is not inside the blob
//   all           10753 not a blob field, 10030 no open buffer for the field
// Failures of files and locks may still raise ETarnEngineError.
//
// The engine cursor implements it; one thread at a time, the cursor's.

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/base/error_codes.h"

namespace dbcomp {

class TBlobAccess {
 public:
  virtual ~TBlobAccess() = default;

  // Opens (or counts one more use of) the blob buffer of the field in record;
  // size receives the blob's size.
  virtual tarn::TErrorCode OpenBlob(int fieldNo, std::span<std::uint8_t> record, bool forWrite,
                                    std::uint32_t& size) = 0;
  // Copies up to dest.size() bytes from offset; count receives how many.
  virtual tarn::TErrorCode ReadBlob(int fieldNo, std::span<std::uint8_t> record,
                                    std::uint32_t offset, std::span<std::uint8_t> dest,
                                    std::uint32_t& count) = 0;
  // Copies source in at offset, growing the blob (a gap is zero-filled).
  virtual tarn::TErrorCode WriteBlob(int fieldNo, std::span<std::uint8_t> record,
                                     std::uint32_t offset,
                                     std::span<const std::uint8_t> source) = 0;
  // Cuts or grows (zero-filled) the blob to size.
  virtual tarn::TErrorCode TruncateBlob(int fieldNo, std::span<std::uint8_t> record,
                                        std::uint32_t size) = 0;
  virtual tarn::TErrorCode GetBlobSize(int fieldNo, std::span<std::uint8_t> record,
                                       std::uint32_t& size) = 0;
  // Gives back one use of the buffer; the last use of a buffer that is not
  // kept for a pending post frees it.
  virtual tarn::TErrorCode CloseBlob(int fieldNo, std::span<std::uint8_t> record) = 0;
  // Raises ETarnEngineError for a non-zero code, naming the cursor's table and
  // database, with argument as the first message argument.
  virtual void RaiseIfError(tarn::TErrorCode code, std::string_view argument) = 0;
};

}  // namespace dbcomp
