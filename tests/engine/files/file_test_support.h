#pragma once
// Helpers shared by the file-layer tests: plain files written and read back
// without the engine, engine results turned into codes, and the table of
// sharing modes that holds both within one process and between processes.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/base/error_codes.h"

namespace files_test {

// Writes count bytes of value to path, replacing the file.
inline void WriteBytes(const std::string& path, std::size_t count, char value = 'x') {
  std::ofstream(path, std::ios::binary) << std::string(count, value);
}

// The whole content of path ("" when it cannot be read).
inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The engine code of a file-list result (a negated code, or a handle or 0).
inline tarn::TErrorCode CodeOf(std::int32_t result) {
  return result < 0 ? static_cast<tarn::TErrorCode>(-result) : tarn::TARN_NONE;
}

// An open of a name that a holder already has open: only two shared opens
// go together.
struct TSharingCase {
  bool HolderExclusive;
  bool OpenerExclusive;
  tarn::TErrorCode Expected;
};
inline constexpr TSharingCase SharingCases[] = {
    {false, false, tarn::TARN_NONE},
    {false, true, tarn::TARN_OSEACCES},
    {true, false, tarn::TARN_OSEACCES},
    {true, true, tarn::TARN_OSEACCES},
};

}  // namespace files_test
