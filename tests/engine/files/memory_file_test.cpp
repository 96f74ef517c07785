#include "engine/files/memory_file.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace tarn {
namespace {

std::vector<std::uint8_t> Bytes(std::size_t count, std::uint8_t first = 1) {
  std::vector<std::uint8_t> bytes(count);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

// A memory file of `size` bytes 1, 2, 3, ... with one handle.
struct TFilledMemoryFile {
  explicit TFilledMemoryFile(std::size_t size) : File("mem.dat") {
    Handle = File.CreateFile();
    const auto bytes = Bytes(size);
    EXPECT_EQ(File.Write(Handle, bytes), static_cast<std::int32_t>(size));
  }
  TMemoryFile File;
  std::int32_t Handle = 0;
};

TEST(MemoryFileTest, ReadsStopAtTheEnd) {
  struct TCase {
    std::int64_t Position;
    std::size_t Count;
    std::int32_t Expected;        // bytes read
    std::int64_t PositionAfter;
  };
  const TCase cases[] = {
      {0, 10, 10, 10},    // inside
      {90, 10, 10, 100},  // up to the end exactly
      {95, 10, 5, 100},   // across the end: only what is there, position at the end
      {100, 10, 0, 100},  // at the end
      {150, 10, 0, 150},  // beyond the end: nothing, position kept
      {0, 0, 0, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "position " << c.Position << " count " << c.Count);
    TFilledMemoryFile f(100);
    ASSERT_EQ(f.File.Seek(f.Handle, TSeekOrigin::Begin, c.Position), c.Position);
    std::vector<std::uint8_t> buffer(c.Count, 0xEE);
    EXPECT_EQ(f.File.Read(f.Handle, buffer), c.Expected);
    EXPECT_EQ(f.File.Seek(f.Handle, TSeekOrigin::Current, 0), c.PositionAfter);
    for (std::int32_t i = 0; i < c.Expected; ++i) {
      EXPECT_EQ(buffer[static_cast<std::size_t>(i)], static_cast<std::uint8_t>(c.Position + i + 1));
    }
    for (std::size_t i = static_cast<std::size_t>(c.Expected); i < c.Count; ++i) {
      EXPECT_EQ(buffer[i], 0xEE) << "byte " << i << " past what was read was touched";
    }
  }
}

TEST(MemoryFileTest, WritesGrowInPageStepsAndFillGapsWithZeros) {
  TMemoryFile file("grow.dat");
  const std::int32_t h = file.CreateFile();
  EXPECT_EQ(file.GetSize(), 0);
  EXPECT_EQ(file.Capacity(), 0);

  const auto bytes = Bytes(10);
  ASSERT_EQ(file.Seek(h, TSeekOrigin::Begin, 5000), 5000);
  ASSERT_EQ(file.Write(h, bytes), 10);
  EXPECT_EQ(file.GetSize(), 5010);
  EXPECT_EQ(file.Capacity(), 8192);
  EXPECT_EQ(file.Seek(h, TSeekOrigin::Current, 0), 5010);

  std::vector<std::uint8_t> back(5010);
  ASSERT_EQ(file.Seek(h, TSeekOrigin::Begin, 0), 0);
  ASSERT_EQ(file.Read(h, back), 5010);
  for (std::size_t i = 0; i < 5000; ++i) ASSERT_EQ(back[i], 0) << i;
  EXPECT_EQ(back[5000], 1);
  EXPECT_EQ(back[5009], 10);

  // Writing inside the file keeps the size.
  ASSERT_EQ(file.Seek(h, TSeekOrigin::Begin, 0), 0);
  ASSERT_EQ(file.Write(h, bytes), 10);
  EXPECT_EQ(file.GetSize(), 5010);
  EXPECT_TRUE(file.CheckInvariants());
}

TEST(MemoryFileTest, ZeroByteWriteTruncatesAndExtendsWithZeros) {
  TFilledMemoryFile f(100);
  ASSERT_EQ(f.File.Seek(f.Handle, TSeekOrigin::Begin, 40), 40);
  EXPECT_EQ(f.File.Write(f.Handle, {}), 0);
  EXPECT_EQ(f.File.GetSize(), 40);
  EXPECT_EQ(f.File.Capacity(), 4096);  // a buffer never shrinks

  // Growing again over the cut part shows zeros, not the old bytes.
  ASSERT_EQ(f.File.Seek(f.Handle, TSeekOrigin::Begin, 80), 80);
  EXPECT_EQ(f.File.Write(f.Handle, {}), 0);
  EXPECT_EQ(f.File.GetSize(), 80);
  std::vector<std::uint8_t> back(40);
  ASSERT_EQ(f.File.Seek(f.Handle, TSeekOrigin::Begin, 40), 40);
  ASSERT_EQ(f.File.Read(f.Handle, back), 40);
  for (std::uint8_t b : back) EXPECT_EQ(b, 0);
}

TEST(MemoryFileTest, HandlesKeepTheirOwnPositions) {
  TFilledMemoryFile f(100);
  const std::int32_t second = f.File.OpenFile();
  EXPECT_EQ(second, f.Handle + 1);
  EXPECT_EQ(f.File.OpenCount(), 2);
  EXPECT_EQ(f.File.Seek(second, TSeekOrigin::Current, 0), 0);
  EXPECT_EQ(f.File.Seek(f.Handle, TSeekOrigin::Current, 0), 100);
  EXPECT_EQ(f.File.Seek(second, TSeekOrigin::End, 0), 100);
  EXPECT_EQ(f.File.Seek(second, TSeekOrigin::Current, -30), 70);
  // A position before the start is refused and the position kept.
  EXPECT_EQ(f.File.Seek(second, TSeekOrigin::Current, -71), -1);
  EXPECT_EQ(f.File.Seek(second, TSeekOrigin::Current, 0), 70);
  // An unknown handle yields 0 and reads nothing.
  EXPECT_EQ(f.File.Seek(77, TSeekOrigin::Begin, 10), 0);
  std::vector<std::uint8_t> buffer(4);
  EXPECT_EQ(f.File.Read(77, buffer), -1);

  f.File.CloseFile(f.Handle);
  f.File.CloseFile(f.Handle);  // unknown now: ignored
  EXPECT_EQ(f.File.OpenCount(), 1);
  EXPECT_EQ(f.File.FindHandle(f.Handle), -1);
  EXPECT_EQ(f.File.FindHandle(second), 0);
  EXPECT_TRUE(f.File.CheckInvariants());
}

TEST(MemoryFileTest, RegionLocksRefuseAnyOverlapAndUnlockOnlyExactRanges) {
  TMemoryFile file("locks.dat");
  file.CreateFile();
  ASSERT_TRUE(file.LockRegion(100, 10));  // bytes 100..109

  struct TCase {
    std::int64_t Offset;
    std::int64_t Length;
    bool Granted;
  };
  const TCase cases[] = {
      {100, 10, false},  // the same range again
      {95, 5, true},     // 95..99 ends just before
      {109, 1, false},   // the last byte
      {110, 1, true},    // just after
      {50, 100, false},  // covers the whole held range
      {105, 2, false},   // inside
      {0, 0, false},     // empty ranges are not locks
      {-5, 10, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Offset << "+" << c.Length);
    const bool granted = file.LockRegion(c.Offset, c.Length);
    EXPECT_EQ(granted, c.Granted);
    if (granted) {
      EXPECT_TRUE(file.UnlockRegion(c.Offset, c.Length));
    }
  }

  EXPECT_FALSE(file.UnlockRegion(100, 9));
  EXPECT_FALSE(file.UnlockRegion(101, 9));
  EXPECT_TRUE(file.UnlockRegion(100, 10));
  EXPECT_FALSE(file.UnlockRegion(100, 10));
  EXPECT_TRUE(file.LockRegion(4294967295, 1));  // far beyond the end
  EXPECT_TRUE(file.CheckInvariants());
}

TEST(MemoryFileTest, CreateEmptiesTheFile) {
  TFilledMemoryFile f(5000);
  f.File.CloseFile(f.Handle);
  const std::int32_t h = f.File.CreateFile();
  EXPECT_EQ(f.File.GetSize(), 0);
  EXPECT_EQ(f.File.Capacity(), 0);
  std::vector<std::uint8_t> buffer(10);
  EXPECT_EQ(f.File.Read(h, buffer), 0);
}

}  // namespace
}  // namespace tarn
