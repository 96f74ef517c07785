#include "engine/files/file_list.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "engine/base/engine_error.h"
#include "engine/base/error_codes.h"
#include "engine/files/fault_file_api.h"
#include "engine/files/file_handler.h"
#include "engine/files/file_test_support.h"
#include "engine/files/os_error.h"
#include "support/temp_dir.h"

namespace tarn {
namespace {

using files_test::CodeOf;
using files_test::ReadAll;
using files_test::SharingCases;
using files_test::TSharingCase;
using files_test::WriteBytes;

class FileListTest : public testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(FileList().CheckInvariants()); }

  // A handler on name (in memory or on disk) that creates the file with
  // `size` bytes of `value`.
  static void Fill(TFileHandler& handler, std::string_view name, bool inMemory, std::size_t size,
                   std::uint8_t value) {
    handler.SetFileName(name);
    handler.SetInMemory(inMemory);
    handler.CreateFile();
    std::vector<std::uint8_t> bytes(size, value);
    handler.WriteBuffer(bytes);
  }

  testing_support::TTempDir FDir;
};

// Every request against a name open in this process, by how it is open.
TEST_F(FileListTest, ConflictsWithANameOpenInThisProcess) {
  for (const bool inMemory : {false, true}) {
    const std::string name = inMemory ? "conflict-mem.DAT" : FDir.File("conflict.DAT");
    {
      TFileHandler maker;
      Fill(maker, name, inMemory, 10, 1);
    }
    for (const TSharingCase& c : SharingCases) {
      SCOPED_TRACE(testing::Message() << (inMemory ? "memory " : "disk ") << c.HolderExclusive
                                      << c.OpenerExclusive);
      TFaultFileApi counter;
      TOsFileApiOverride use(counter);
      TFileHandler holder;
      holder.SetFileName(name);
      holder.SetInMemory(inMemory);
      holder.SetExclusive(c.HolderExclusive);
      holder.OpenFile();
      const std::int64_t opensBefore = counter.Calls(TOsCall::Open);

      bool readOnly = false;
      bool readOnlyAttr = false;
      TAbstractFile* file = nullptr;
      const std::int32_t result = FileList().OpenFile(" " + name + " ", inMemory, false,
                                                      c.OpenerExclusive, readOnly, readOnlyAttr,
                                                      file);
      EXPECT_EQ(CodeOf(result), c.Expected);
      EXPECT_EQ(counter.Calls(TOsCall::Open), opensBefore) << "decided without the OS";
      if (result > 0) {
        EXPECT_EQ(file, holder.File());
        EXPECT_EQ(FileList().CloseFile(file, inMemory, result), 0);
      }
      // Creating, renaming or deleting an open name is refused.
      EXPECT_EQ(CodeOf(FileList().CreateFile(name, inMemory, false, file)), TARN_OSEACCES);
      EXPECT_EQ(CodeOf(FileList().RenameFile(name, inMemory, name + "2")), TARN_OSEACCES);
      EXPECT_EQ(CodeOf(FileList().DeleteFile(name, inMemory)), TARN_OSEACCES);
    }
    EXPECT_EQ(FileList().DeleteFile(name, inMemory), 0);
  }
}

TEST_F(FileListTest, MemoryFileOutlivesItsLastCloseUntilDeleted) {
  const std::string name = "keep-mem.DAT";
  {
    TFileHandler writer;
    Fill(writer, name, true, 5000, 7);
  }
  EXPECT_TRUE(FileList().FileExists("KEEP-MEM.dat", true));
  EXPECT_FALSE(FileList().FileExists(name, false)) << "kinds do not match each other";

  TFileHandler reader;
  reader.SetFileName(name);
  reader.SetInMemory(true);
  reader.OpenFile();
  EXPECT_EQ(reader.GetFileSize(), 5000);
  std::vector<std::uint8_t> back(5000);
  EXPECT_EQ(reader.ReadBuffer(back), 5000);
  EXPECT_EQ(back[4999], 7);
  reader.CloseFile();

  reader.DeleteFile();
  EXPECT_FALSE(FileList().FileExists(name, true));
  EXPECT_EQ(FileList().Find(name, true), nullptr);
  try {
    reader.OpenFile();
    ADD_FAILURE() << "opened a deleted memory file";
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_OSENOENT);
    EXPECT_EQ(e.ErrorTable(), name);
  }
  EXPECT_EQ(CodeOf(FileList().DeleteFile(name, true)), TARN_OSENOENT);
  EXPECT_EQ(CodeOf(FileList().RenameFile(name, true, "x")), TARN_OSENOENT);
}

TEST_F(FileListTest, TemporaryMemoryFileGoesWithItsLastHandle) {
  TFileHandler first;
  first.SetTemporary(true);
  Fill(first, "temp-mem.DAT", true, 10, 1);
  TFileHandler second;
  second.SetFileName("temp-mem.DAT");
  second.SetInMemory(true);
  EXPECT_THROW(second.OpenFile(), ETarnEngineError) << "a created file is held exclusively";
  first.CloseFile();
  EXPECT_FALSE(FileList().FileExists("temp-mem.DAT", true));
}

TEST_F(FileListTest, RenamedMemoryFileKeepsItsContentsAndNeverTakesAnotherName) {
  {
    TFileHandler a;
    Fill(a, "ren-a.DAT", true, 3, 1);
    TFileHandler b;
    Fill(b, "ren-b.DAT", true, 3, 2);
  }
  EXPECT_EQ(CodeOf(FileList().RenameFile("ren-a.DAT", true, "REN-B.dat")), TARN_OSUNKNOWN);
  EXPECT_EQ(FileList().RenameFile("ren-a.DAT", true, "ren-c.DAT"), 0);
  EXPECT_FALSE(FileList().FileExists("ren-a.DAT", true));
  TFileHandler c;
  c.SetFileName("ren-c.DAT");
  c.SetInMemory(true);
  c.OpenFile();
  std::vector<std::uint8_t> back(3);
  c.ReadBuffer(back);
  EXPECT_EQ(back[0], 1);
  c.CloseFile();
  EXPECT_EQ(FileList().DeleteFile("ren-b.DAT", true), 0);
  EXPECT_EQ(FileList().DeleteFile("ren-c.DAT", true), 0);
}

TEST_F(FileListTest, FailedOpenLeavesNoEntryAndExistenceFollowsTheDisk) {
  const std::size_t before = FileList().Count();
  bool readOnly = false;
  bool readOnlyAttr = false;
  TAbstractFile* file = nullptr;
  const std::string name = FDir.File("missing.DAT");
  EXPECT_EQ(CodeOf(FileList().OpenFile(name, false, false, false, readOnly, readOnlyAttr, file)),
            TARN_OSENOENT);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(FileList().Count(), before);
  EXPECT_FALSE(FileList().FileExists(name, false));
  WriteBytes(name, 1);
  EXPECT_TRUE(FileList().FileExists(name, false));
  EXPECT_TRUE(FileList().FileExists(FDir.Path() + "\\MISSING.dat", false));
  EXPECT_FALSE(FileList().FileExists(FDir.Path(), false)) << "a directory is not a file";
  EXPECT_FALSE(FileList().FileExists("", false));
  EXPECT_EQ(CodeOf(FileList().OpenFile("nothing.DAT", true, false, false, readOnly, readOnlyAttr,
                                       file)),
            TARN_OSENOENT);
}

TEST_F(FileListTest, CopyOfWholeChunksMakesOneMoreRead) {
  struct TCase {
    std::size_t Size;
    std::int64_t Reads;
  };
  const TCase cases[] = {{0, 1}, {65535, 1}, {65536, 2}, {100000, 2}, {131072, 3}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Size);
    const std::string source = FDir.File("copy-src.DAT");
    const std::string dest = FDir.File("copy-dst.DAT");
    WriteBytes(source, c.Size, 's');
    TFileHandler handler;
    handler.SetFileName(source);
    handler.OpenFile();
    TFaultFileApi counter;
    TOsFileApiOverride use(counter);
    handler.CopyToFile(dest);
    EXPECT_EQ(counter.Calls(TOsCall::PRead), c.Reads);
    EXPECT_EQ(ReadAll(dest), std::string(c.Size, 's'));
  }
}

TEST_F(FileListTest, CopyProgressFollowsTheStepRule) {
  struct TCase {
    std::size_t Size;
    std::int32_t Step;
    std::vector<std::int32_t> Reported;
  };
  // Chunks of 65536: 200000 bytes are 32%, 65%, 98% and 100% done after each.
  const TCase cases[] = {
      {200000, 0, {32, 65, 98, 100}},
      {200000, 10, {32, 65, 98, 100}},
      {200000, 33, {65, 98, 100}},  // 32 < 0 + 33
      {200000, 50, {65, 100}},      // 98 < 65 + 50; the end is always reported
      {200000, 100, {100}},
      {65536, 0, {100}},
      {0, 10, {100}},               // an empty file is done at once
  };
  for (const bool inMemory : {true, false}) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(testing::Message() << (inMemory ? "memory " : "disk ") << c.Size << " step "
                                      << c.Step);
      const std::string source = inMemory ? "prog-src.DAT" : FDir.File("prog-src.DAT");
      const std::string dest = inMemory ? "prog-dst.DAT" : FDir.File("prog-dst.DAT");
      TFileHandler handler;
      Fill(handler, source, inMemory, c.Size, 3);
      std::vector<std::int32_t> reported;
      handler.CopyToFile(dest, c.Step, [&](std::int32_t percent) { reported.push_back(percent); });
      EXPECT_EQ(reported, c.Reported);
      handler.CloseFile();
      if (inMemory) {
        EXPECT_EQ(FileList().DeleteFile(source, true), 0);
        EXPECT_EQ(FileList().DeleteFile(dest, true), 0);
      }
    }
  }
}

TEST_F(FileListTest, CopyFromFileOverwritesFromTheStartWithoutTruncating) {
  const std::string source = FDir.File("from.DAT");
  const std::string target = FDir.File("into.DAT");
  WriteBytes(source, 70000, 'n');
  WriteBytes(target, 100000, 'o');
  TFileHandler handler;
  handler.SetFileName(target);
  handler.OpenFile();
  handler.SeekFile(TSeekOrigin::Begin, 500);
  handler.CopyFromFile(source);
  handler.CloseFile();
  EXPECT_EQ(ReadAll(target), std::string(70000, 'n') + std::string(30000, 'o'));
  EXPECT_TRUE(std::filesystem::exists(source));
  EXPECT_EQ(FileList().Find(source, false), nullptr) << "the source is closed again";
}

TEST_F(FileListTest, CopyReportsAFailedWriteAndAFailedCreate) {
  const std::string source = FDir.File("cs.DAT");
  WriteBytes(source, 100000, 'c');
  TFileHandler handler;
  handler.SetFileName(source);
  handler.OpenFile();
  {
    TFaultFileApi faults;
    TOsFileApiOverride use(faults);
    faults.Fail(TOsCall::PWrite, ENOSPC, 1);  // the second chunk
    try {
      handler.CopyToFile(FDir.File("cd.DAT"));
      ADD_FAILURE() << "a failed write went unreported";
    } catch (const ETarnEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), TARN_WRITEERR);
      EXPECT_EQ(e.ErrorTable(), source);
      EXPECT_EQ(e.OSErrorCode(), ENOSPC);
    }
  }
  // The destination is closed again: it can be replaced.
  EXPECT_EQ(FileList().Find(FDir.File("cd.DAT"), false), nullptr);
  // Copying onto itself: the name is open, so it cannot be created.
  try {
    handler.CopyToFile(source);
    ADD_FAILURE() << "copied a file onto itself";
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_OSEACCES);
  }
}

TEST_F(FileListTest, CopyTreatsAFailedReadAsTheEnd) {
  const std::string source = FDir.File("rs.DAT");
  WriteBytes(source, 200000, 'r');
  TFileHandler handler;
  handler.SetFileName(source);
  handler.OpenFile();
  TFaultFileApi faults;
  TOsFileApiOverride use(faults);
  faults.Fail(TOsCall::PRead, EIO, 1);
  handler.CopyToFile(FDir.File("rd.DAT"));
  EXPECT_EQ(std::filesystem::file_size(FDir.File("rd.DAT")), 65536u);
}

TEST_F(FileListTest, CloseOfAnUnknownFileIsNotFound) {
  TFileHandler handler;
  Fill(handler, "close-mem.DAT", true, 1, 1);
  TAbstractFile* file = handler.File();
  const std::int32_t handle = handler.HandleId();
  EXPECT_EQ(CodeOf(FileList().CloseFile(file, false, handle)), TARN_OSENOENT) << "wrong kind";
  handler.CloseFile();
  EXPECT_EQ(CodeOf(FileList().CloseFile(file, true, handle)), TARN_OSENOENT) << "no handles";
  EXPECT_EQ(FileList().DeleteFile("close-mem.DAT", true), 0);
}

}  // namespace
}  // namespace tarn
