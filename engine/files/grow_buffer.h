#pragma once
// The engine's growable buffer routine, used for read and write buffers,
// page entry buffers and the contents of memory files.

#include <cstdint>
#include <vector>

namespace tarn {

// Granularity of memory files and of most engine buffers.
inline constexpr std::int64_t BufferGranularity = 4096;

// A positive size is rounded up to the next multiple of granularity (a size
// that already is a multiple stays). When the rounded size exceeds capacity,
// the buffer is enlarged to it, its old bytes kept and the new tail filled
// with zeros, and capacity becomes the rounded size; a buffer never shrinks.
// A size of 0 or less frees the buffer and sets capacity to 0.
// Afterwards buffer.size() == capacity.
// Requires: granularity > 0; capacity == buffer.size() on entry.
// Throws: ETarnEngineError 11016 (TARN_OSENOMEM) when the memory cannot be had;
// the buffer and capacity are then unchanged.
void GrowBuffer(std::int64_t size, std::int64_t granularity, std::vector<std::uint8_t>& buffer,
                std::int64_t& capacity);

// The same with the vector's size as the capacity.
void GrowBuffer(std::int64_t size, std::int64_t granularity, std::vector<std::uint8_t>& buffer);

}  // namespace tarn
