// Blob file throughput: writes N blobs of one size into a fresh blob file,
// writes everything out, reopens the file and reads every blob back.
// Reports write and read MB/s (1 MB = 1,000,000 bytes) and how reads used
// the file (read calls and blocks per read call).
//
//   bench_blob_bench --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_owners.h"
#include "engine/blob/blob_buffer.h"
#include "engine/blob/blob_file.h"
#include "engine/blob/blob_owner.h"

namespace {

using namespace tarn;


struct TRef {
  std::int32_t First;
  std::int32_t Stamp;
};

std::string BenchPath() {
  const auto dir =
      std::filesystem::temp_directory_path() / ("tarn_blob_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  return (dir / "BENCH.BLB").string();
}

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// Args: block size, number of blobs, bytes per blob.
void BM_BlobWriteRead(benchmark::State& state) {
  const auto blockSize = static_cast<std::int32_t>(state.range(0));
  const auto count = static_cast<std::int64_t>(state.range(1));
  const auto size = static_cast<std::size_t>(state.range(2));
  const std::string path = BenchPath();
  bench::TBenchBlobOwner owner;
  std::vector<std::uint8_t> value(size);
  for (std::size_t i = 0; i < size; ++i) value[i] = static_cast<std::uint8_t>(i * 31 + 7);

  for (auto _ : state) {
    std::vector<TRef> refs;
    refs.reserve(static_cast<std::size_t>(count));
    auto file = std::make_unique<TBlobFile>(owner);
    file->SetFileName(path);
    file->SetBlockSize(blockSize);
    file->CreateFile();

    const auto writeStart = std::chrono::steady_clock::now();
    for (std::int64_t i = 0; i < count; ++i) {
      TBlobBuffer buffer(*file, nullptr, 1, 0, 0, static_cast<std::int32_t>(i + 1));
      value[0] = static_cast<std::uint8_t>(i);
      buffer.Write(0, value);
      buffer.SetBlobStamp(owner.NextBlobStamp());
      buffer.SaveBlob();
      refs.push_back({buffer.FirstBlock(), buffer.BlobStamp()});
    }
    file->FlushBlocks();
    file->WriteBlobHeader(false);
    file->FlushFile();
    const double writeSeconds = Seconds(writeStart);
    file->CloseFile();

    file = std::make_unique<TBlobFile>(owner);
    file->SetFileName(path);
    file->SetBlockSize(blockSize);
    file->OpenFile();
    const auto readStart = std::chrono::steady_clock::now();
    std::uint64_t checksum = 0;
    for (const TRef& ref : refs) {
      TBlobBuffer buffer(*file, nullptr, 1, ref.First, ref.Stamp, 1);
      buffer.LoadBlob();
      if (buffer.Size() != size) state.SkipWithError("short blob");
      checksum += buffer.Data()[0];
    }
    const double readSeconds = Seconds(readStart);
    benchmark::DoNotOptimize(checksum);
    const TBlobStatistics stats = file->Statistics();
    file->CloseFile();
    std::filesystem::remove(path);

    const double megabytes = static_cast<double>(count) * static_cast<double>(size) / 1e6;
    state.counters["write_MBps"] = megabytes / writeSeconds;
    state.counters["read_MBps"] = megabytes / readSeconds;
    state.counters["read_calls"] = static_cast<double>(stats.DiskReads);
    state.counters["blocks_per_read"] =
        stats.DiskReads == 0
            ? 0.0
            : static_cast<double>(stats.BlocksRead) / static_cast<double>(stats.DiskReads);
    state.counters["file_MB"] =
        (512.0 + static_cast<double>(file->Header().NextBlockNumber - 1) * blockSize) / 1e6;
  }
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
}

BENCHMARK(BM_BlobWriteRead)
    ->ArgNames({"block", "blobs", "bytes"})
    ->Args({512, 100000, 1024})
    ->Args({4096, 100000, 1024})
    ->Args({512, 1000, 1 << 20})
    ->Args({4096, 1000, 1 << 20})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
