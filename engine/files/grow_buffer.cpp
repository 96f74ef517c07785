#include "engine/files/grow_buffer.h"

#include <cassert>
#include <cerrno>
#include <limits>
#include <new>
#include <stdexcept>

#include "engine/base/error_context.h"

namespace tarn {

void GrowBuffer(std::int64_t size, std::int64_t granularity, std::vector<std::uint8_t>& buffer,
                std::int64_t& capacity) {
  assert(granularity > 0);
  assert(capacity == static_cast<std::int64_t>(buffer.size()));
  if (size <= 0) {
    std::vector<std::uint8_t>().swap(buffer);
    capacity = 0;
    return;
  }
  if (size > std::numeric_limits<std::int64_t>::max() - granularity) {
    errno = ENOMEM;
    RaiseEngineError(TARN_OSENOMEM);
  }
  const std::int64_t rounded = (size + granularity - 1) / granularity * granularity;
  if (rounded <= capacity) return;
  try {
    buffer.resize(static_cast<std::size_t>(rounded));  // new bytes are zero
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    RaiseEngineError(TARN_OSENOMEM);
  } catch (const std::length_error&) {
    errno = ENOMEM;
    RaiseEngineError(TARN_OSENOMEM);
  }
  capacity = rounded;
}

void GrowBuffer(std::int64_t size, std::int64_t granularity, std::vector<std::uint8_t>& buffer) {
  std::int64_t capacity = static_cast<std::int64_t>(buffer.size());
  GrowBuffer(size, granularity, buffer, capacity);
}

}  // namespace tarn
