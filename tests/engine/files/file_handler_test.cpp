#include "engine/files/file_handler.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <thread>

#include "engine/base/engine_error.h"
#include "engine/files/fault_file_api.h"
#include "support/temp_dir.h"

namespace tarn {
namespace {

// Runs f and returns the engine code it raised (0 when none) and, through
// table and osError, the context it raised with.
template <typename F>
TErrorCode RaisedBy(F f, std::string* table = nullptr, int* osError = nullptr) {
  try {
    f();
  } catch (const ETarnEngineError& e) {
    if (table != nullptr) *table = e.ErrorTable();
    if (osError != nullptr) *osError = e.OSErrorCode();
    return e.ErrorCode();
  }
  return TARN_NONE;
}

class FileHandlerTest : public testing::Test {
 protected:
  void SetUp() override {
    FName = FDir.File("handler.DAT");
    std::ofstream(FName, std::ios::binary) << std::string(100, 'h');
    FHandler.SetFileName(FName);
  }
  void TearDown() override { EXPECT_TRUE(FileList().CheckInvariants()); }

  testing_support::TTempDir FDir;
  std::string FName;
  TFileHandler FHandler;
};

TEST_F(FileHandlerTest, ReadsAndWritesCheckTheirCounts) {
  std::vector<std::uint8_t> buffer(60);
  EXPECT_EQ(RaisedBy([&] { FHandler.ReadBuffer(buffer); }), TARN_READERR) << "not open";
  EXPECT_EQ(RaisedBy([&] { FHandler.WriteBuffer(buffer); }), TARN_WRITEERR) << "not open";
  EXPECT_EQ(FHandler.SeekFile(TSeekOrigin::End, 0), 0);
  EXPECT_EQ(FHandler.GetFileSize(), 0);
  EXPECT_FALSE(FHandler.LockRegion(true, 0, 1));

  FHandler.OpenFile();
  FHandler.OpenFile();  // already open: nothing happens
  EXPECT_EQ(FHandler.File()->OpenCount(), 1);
  FHandler.SeekFile(TSeekOrigin::Begin, 50);
  std::string table;
  EXPECT_EQ(RaisedBy([&] { FHandler.ReadBuffer(buffer); }, &table), TARN_READERR);
  EXPECT_EQ(table, FName);
  FHandler.SeekFile(TSeekOrigin::Begin, 50);
  EXPECT_EQ(FHandler.ReadBuffer(buffer, true), 50);
  EXPECT_EQ(FHandler.ReadBuffer(buffer, true), 0);
}

// ReadBufferAt(offset, b) is SeekFile(Begin, offset) then ReadBuffer(b, true)
// on disk and in memory: the same bytes and count, and the position after
// them; a position that cannot be set gives -1 and reads nothing.
TEST_F(FileHandlerTest, ReadBufferAtIsASeekAndAReadInOneStep) {
  for (const bool inMemory : {false, true}) {
    SCOPED_TRACE(inMemory);
    TFileHandler handler;
    handler.SetFileName(inMemory ? FDir.File("readat.MEM") : FName);
    handler.SetInMemory(inMemory);
    std::vector<std::uint8_t> buffer(30, 0xEE);
    EXPECT_EQ(handler.ReadBufferAt(0, buffer), -1) << "not open";
    // 100 bytes numbered 0 to 99 (over the fixture's 100 on disk).
    if (inMemory) {
      handler.CreateFile();
    } else {
      handler.OpenFile();
    }
    std::vector<std::uint8_t> content(100);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i);
    handler.WriteBuffer(content);
    const struct {
      std::int64_t Offset;
      std::int32_t Got;  // bytes read, -1 when the position cannot be set
    } cases[] = {{0, 30}, {40, 30}, {85, 15}, {100, 0}, {250, 0}, {-1, -1}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.Offset);
      handler.SeekFile(TSeekOrigin::Begin, 7);
      std::fill(buffer.begin(), buffer.end(), 0xEE);
      ASSERT_EQ(handler.ReadBufferAt(c.Offset, buffer), c.Got);
      for (std::int32_t i = 0; i < 30; ++i)
        EXPECT_EQ(buffer[i], i < c.Got ? c.Offset + i : 0xEE) << i;
      // The position follows the bytes read, or stays where it was.
      EXPECT_EQ(handler.SeekFile(TSeekOrigin::Current, 0), c.Got < 0 ? 7 : c.Offset + c.Got);
    }
    if (!inMemory) {
      TFaultFileApi faults;
      TOsFileApiOverride use(faults);
      faults.Fail(TOsCall::PRead, EIO);
      int osError = 0;
      EXPECT_EQ(RaisedBy([&] { handler.ReadBufferAt(0, buffer); }, nullptr, &osError),
                TARN_READERR);
      EXPECT_EQ(osError, EIO);
    }
    handler.CloseFile();
  }
}

TEST_F(FileHandlerTest, OsFailuresAreRaisedWithTheFileNameAndErrno) {
  struct TCase {
    TOsCall Call;
    int ErrNo;
    TErrorCode Expected;
  };
  const TCase cases[] = {
      {TOsCall::Open, EMFILE, TARN_OSEMFILE},
      {TOsCall::Open, ENXIO, TARN_OSENODEV},
      {TOsCall::Flock, EWOULDBLOCK, TARN_OSEACCES},
      {TOsCall::FStat, ENOMEM, TARN_OSENOMEM},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.ErrNo);
    TFaultFileApi faults;
    TOsFileApiOverride use(faults);
    faults.Fail(c.Call, c.ErrNo, 0, true);
    std::string table;
    int osError = 0;
    EXPECT_EQ(RaisedBy([&] { FHandler.OpenFile(); }, &table, &osError), c.Expected);
    EXPECT_EQ(table, FName);
    EXPECT_EQ(osError, c.ErrNo);
    EXPECT_FALSE(FHandler.Opened());
    EXPECT_EQ(FileList().Find(FName, false), nullptr);
  }
}

TEST_F(FileHandlerTest, MissingFileIsNotFound) {
  FHandler.SetFileName(FDir.File("absent.DAT"));
  int osError = 0;
  EXPECT_EQ(RaisedBy([&] { FHandler.OpenFile(); }, nullptr, &osError), TARN_OSENOENT);
  EXPECT_EQ(osError, ENOENT);
  EXPECT_EQ(RaisedBy([&] { FHandler.DeleteFile(); }), TARN_OSENOENT);
}

TEST_F(FileHandlerTest, FailedWritesAndFlushesRaiseWriteError) {
  FHandler.OpenFile();
  std::vector<std::uint8_t> buffer(10, 1);
  TFaultFileApi faults;
  TOsFileApiOverride use(faults);
  faults.Fail(TOsCall::PWrite, ENOSPC);
  int osError = 0;
  EXPECT_EQ(RaisedBy([&] { FHandler.WriteBuffer(buffer); }, nullptr, &osError), TARN_WRITEERR);
  EXPECT_EQ(osError, ENOSPC);
  faults.Fail(TOsCall::FTruncate, EIO);
  EXPECT_EQ(RaisedBy([&] { FHandler.WriteBuffer({}); }), TARN_WRITEERR);
  faults.Fail(TOsCall::FDataSync, EIO);
  EXPECT_EQ(RaisedBy([&] { FHandler.FlushFile(); }), TARN_WRITEERR);
  EXPECT_EQ(RaisedBy([&] { FHandler.FlushFile(); }), TARN_NONE);
  EXPECT_EQ(faults.Calls(TOsCall::FDataSync), 2);
  faults.Fail(TOsCall::PRead, EIO);
  EXPECT_EQ(RaisedBy([&] { FHandler.ReadBuffer(buffer, true); }), TARN_READERR)
      << "an OS failure is not a short read";
}

TEST_F(FileHandlerTest, RenameFollowsTheNewName) {
  const std::string newName = FDir.File("renamed.DAT");
  FHandler.OpenFile();
  EXPECT_EQ(RaisedBy([&] { FHandler.RenameFile(newName); }), TARN_OSEACCES) << "open";
  FHandler.CloseFile();
  FHandler.RenameFile(newName);
  EXPECT_EQ(FHandler.FileName(), newName);
  EXPECT_TRUE(FHandler.FileExists());
  FHandler.OpenFile();
  EXPECT_EQ(FHandler.GetFileSize(), 100);
}

TEST_F(FileHandlerTest, DestructorGivesTheHandleBack) {
  {
    TFileHandler scoped;
    scoped.SetFileName(FName);
    scoped.SetExclusive(true);
    scoped.OpenFile();
  }
  FHandler.SetExclusive(true);
  FHandler.OpenFile();
  EXPECT_TRUE(FHandler.Opened());
  EXPECT_FALSE(FHandler.ReadOnly());
}

// Two threads each seek and write their own record under a file section;
// with one shared position, a section that did not hold would mix records.
TEST_F(FileHandlerTest, FileSectionKeepsSeekAndWriteTogether) {
  FHandler.SetExclusive(false);
  FHandler.OpenFile();
  TFileHandler other;
  other.SetFileName(FName);
  other.OpenFile();
  constexpr int Rounds = 2000;
  auto writer = [](TFileHandler& handler, std::uint8_t value, std::int64_t offset) {
    std::vector<std::uint8_t> record(16, value);
    for (int i = 0; i < Rounds; ++i) {
      TFileSection section(handler);
      handler.SeekFile(TSeekOrigin::Begin, offset);
      handler.WriteBuffer(record);
    }
  };
  std::thread a(writer, std::ref(FHandler), std::uint8_t{'a'}, 0);
  std::thread b(writer, std::ref(other), std::uint8_t{'b'}, 16);
  a.join();
  b.join();
  std::vector<std::uint8_t> back(32);
  FHandler.SeekFile(TSeekOrigin::Begin, 0);
  FHandler.ReadBuffer(back);
  EXPECT_EQ(std::string(back.begin(), back.end()), std::string(16, 'a') + std::string(16, 'b'));
}

}  // namespace
}  // namespace tarn
