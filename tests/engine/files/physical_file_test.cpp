#include "engine/files/physical_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "engine/base/engine_error.h"
#include "engine/base/error_codes.h"
#include "engine/files/fault_file_api.h"
#include "engine/files/file_handler.h"
#include "engine/files/file_list.h"
#include "engine/files/file_test_support.h"
#include "engine/files/os_error.h"
#include "engine/files/child_process.h"
#include "support/temp_dir.h"

namespace tarn {
namespace {

using files_test::CodeOf;
using files_test::ReadAll;
using files_test::SharingCases;
using files_test::TChildProcess;
using files_test::TSharingCase;
using files_test::WriteBytes;

// A child's body: opens name (exclusively when asked), says Ready and keeps
// the file open until the parent sends Go.
int HoldOpenUntilGo(TChildProcess& self, const std::string& name, bool exclusive) {
  TFileHandler holder;
  holder.SetFileName(name);
  holder.SetExclusive(exclusive);
  holder.OpenFile();
  self.Send(TChildProcess::Ready);
  self.Receive();
  return 0;
}

class PhysicalFileTest : public testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(FileList().CheckInvariants()); }
  testing_support::TTempDir FDir;
};

TEST_F(PhysicalFileTest, SecondHandleSharesTheDescriptorAndSurvivesTheFirstClose) {
  const std::string name = FDir.File("quiz.DAT");
  WriteBytes(name, 100, 'a');
  const std::size_t before = FileList().Count();

  TFileHandler first;
  first.SetFileName(name);
  first.OpenFile();
  TFileHandler second;
  second.SetFileName(FDir.Path() + "\\QUIZ.dat");  // same file, other spelling
  second.OpenFile();

  ASSERT_EQ(first.File(), second.File());
  EXPECT_NE(first.HandleId(), second.HandleId());
  EXPECT_EQ(first.File()->OpenCount(), 2);
  EXPECT_EQ(FileList().Count(), before + 1);
  const int fd = static_cast<TPhysicalFile*>(first.File())->Descriptor();
  EXPECT_GE(fd, 0);

  first.CloseFile();
  EXPECT_FALSE(first.Opened());
  ASSERT_TRUE(second.Opened());
  EXPECT_EQ(static_cast<TPhysicalFile*>(second.File())->Descriptor(), fd);
  std::vector<std::uint8_t> buffer(10);
  second.SeekFile(TSeekOrigin::Begin, 90);
  EXPECT_EQ(second.ReadBuffer(buffer), 10);
  EXPECT_EQ(buffer[0], 'a');
  second.SeekFile(TSeekOrigin::End, 0);
  second.WriteBuffer(buffer);
  EXPECT_EQ(second.GetFileSize(), 110);

  second.CloseFile();
  EXPECT_EQ(FileList().Count(), before);
}

TEST_F(PhysicalFileTest, ReadOnlyAttributeOpensReadOnlyWhoeverTheUserIs) {
  const std::string name = FDir.File("ro.DAT");
  WriteBytes(name, 10);
  ASSERT_EQ(::chmod(name.c_str(), 0444), 0);
  for (const bool exclusive : {false, true}) {
    SCOPED_TRACE(exclusive ? "exclusive" : "shared");
    TFileHandler handler;
    handler.SetFileName(name);
    handler.SetExclusive(exclusive);
    handler.OpenFile();
    EXPECT_TRUE(handler.ReadOnly());
    EXPECT_TRUE(handler.ReadOnlyAttr());
    std::vector<std::uint8_t> buffer(10);
    EXPECT_EQ(handler.ReadBuffer(buffer), 10);
    handler.SeekFile(TSeekOrigin::Begin, 0);
    try {
      handler.WriteBuffer(buffer);
      ADD_FAILURE() << "write to a read-only file succeeded";
    } catch (const ETarnEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), TARN_WRITEERR);
    }
  }
  // Neither replaced nor deleted while the attribute is set.
  TAbstractFile* file = nullptr;
  EXPECT_EQ(CodeOf(FileList().CreateFile(name, false, false, file)), TARN_OSEACCES);
  EXPECT_EQ(CodeOf(FileList().DeleteFile(name, false)), TARN_OSEACCES);
  EXPECT_EQ(ReadAll(name), std::string(10, 'x'));
}

TEST_F(PhysicalFileTest, WriteRefusedForAnotherReasonOpensReadOnlyWithoutTheAttribute) {
  const std::string name = FDir.File("denied.DAT");
  WriteBytes(name, 10);
  TFaultFileApi faults;
  TOsFileApiOverride use(faults);
  faults.Fail(TOsCall::Open, EACCES);  // the read/write open only; the retry passes
  TFileHandler handler;
  handler.SetFileName(name);
  handler.OpenFile();
  EXPECT_TRUE(handler.ReadOnly());
  EXPECT_FALSE(handler.ReadOnlyAttr());
  EXPECT_EQ(faults.Calls(TOsCall::Open), 2);
}

TEST_F(PhysicalFileTest, ZeroByteWriteTruncatesAtThePosition) {
  const std::string name = FDir.File("cut.DAT");
  WriteBytes(name, 1000);
  TFileHandler handler;
  handler.SetFileName(name);
  handler.OpenFile();
  EXPECT_EQ(handler.SeekFile(TSeekOrigin::Begin, 300), 300);
  handler.WriteBuffer({});
  EXPECT_EQ(handler.GetFileSize(), 300);
  EXPECT_EQ(handler.SeekFile(TSeekOrigin::Current, 0), 300);  // size asked, position kept
  EXPECT_EQ(handler.SeekFile(TSeekOrigin::Begin, 5000), 5000);
  handler.WriteBuffer({});  // extends
  EXPECT_EQ(handler.GetFileSize(), 5000);
  handler.CloseFile();
  EXPECT_EQ(std::filesystem::file_size(name), 5000u);
}

TEST_F(PhysicalFileTest, CreateTruncatesOnlyOnceTheFileIsOurs) {
  const std::string name = FDir.File("busy.DAT");
  WriteBytes(name, 100);
  // Shared use in the other process.
  TChildProcess child([&](TChildProcess& self) { return HoldOpenUntilGo(self, name, false); });
  ASSERT_EQ(child.Receive(), TChildProcess::Ready);
  TFileHandler creator;
  creator.SetFileName(name);
  try {
    creator.CreateFile();
    ADD_FAILURE() << "created a file in use by another process";
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_OSEACCES);
    EXPECT_EQ(e.ErrorTable(), name);
  }
  EXPECT_EQ(std::filesystem::file_size(name), 100u);  // untouched
  child.Send(TChildProcess::Go);
  EXPECT_EQ(child.Wait(), 0);
  creator.CreateFile();
  EXPECT_EQ(creator.GetFileSize(), 0);
}

// Exclusive and shared opens against a holder in another process.
TEST_F(PhysicalFileTest, SharingModesBetweenProcesses) {
  const std::string name = FDir.File("shared.DAT");
  WriteBytes(name, 10);
  for (const TSharingCase& c : SharingCases) {
    SCOPED_TRACE(testing::Message() << c.HolderExclusive << c.OpenerExclusive);
    TChildProcess child([&](TChildProcess& self) { return HoldOpenUntilGo(self, name, c.HolderExclusive); });
    ASSERT_EQ(child.Receive(), TChildProcess::Ready);
    TFileHandler opener;
    opener.SetFileName(name);
    opener.SetExclusive(c.OpenerExclusive);
    TErrorCode code = TARN_NONE;
    try {
      opener.OpenFile();
    } catch (const ETarnEngineError& e) {
      code = e.ErrorCode();
    }
    EXPECT_EQ(code, c.Expected);
    opener.CloseFile();
    child.Send(TChildProcess::Go);
    EXPECT_EQ(child.Wait(), 0);
  }
}

// The child tries the open and reports the engine code it got.
TEST_F(PhysicalFileTest, ExclusiveUseHereRefusesAForkedChild) {
  const std::string name = FDir.File("mine.DAT");
  WriteBytes(name, 10);
  TChildProcess child([&](TChildProcess& self) {
    self.Receive();  // until the parent holds the file
    TFileHandler opener;
    opener.SetFileName(name);
    try {
      opener.OpenFile();
    } catch (const ETarnEngineError& e) {
      return e.ErrorCode() == TARN_OSEACCES ? 13 : 1;
    }
    return 0;
  });
  TFileHandler holder;
  holder.SetFileName(name);
  holder.SetExclusive(true);
  holder.OpenFile();
  child.Send(TChildProcess::Go);
  EXPECT_EQ(child.Wait(), 13);
}

TEST_F(PhysicalFileTest, TemporaryFilesGoWithTheirLastHandleWhenOpenedAsTemporary) {
  const std::string name = FDir.File("12345.DAT");
  {
    TFileHandler created;
    created.SetFileName(name);
    created.SetTemporary(true);
    created.CreateFile();
  }
  EXPECT_TRUE(std::filesystem::exists(name)) << "a created temporary file stays until reopened";
  {
    TFileHandler first;
    first.SetFileName(name);
    first.SetTemporary(true);
    first.OpenFile();
    TFileHandler second;
    second.SetFileName(name);
    second.OpenFile();
    first.CloseFile();
    EXPECT_TRUE(std::filesystem::exists(name));
  }
  EXPECT_FALSE(std::filesystem::exists(name));
}

TEST_F(PhysicalFileTest, RenameNeverReplacesAnotherFile) {
  const std::string a = FDir.File("a.DAT");
  const std::string b = FDir.File("b.DAT");
  WriteBytes(a, 1, 'a');
  WriteBytes(b, 1, 'b');
  EXPECT_EQ(CodeOf(FileList().RenameFile(a, false, FDir.Path() + "/B.dat")), TARN_OSUNKNOWN);
  EXPECT_EQ(ReadAll(a), "a");
  EXPECT_EQ(ReadAll(b), "b");
  // A change of spelling of the same file is a rename.
  EXPECT_EQ(FileList().RenameFile(a, false, FDir.Path() + "\\A.dat"), 0);
  EXPECT_EQ(ReadAll(FDir.File("A.dat")), "a");
  EXPECT_FALSE(std::filesystem::exists(a));
  EXPECT_EQ(CodeOf(FileList().RenameFile(FDir.File("none.DAT"), false, a)), TARN_OSENOENT);
}

TEST_F(PhysicalFileTest, SeekBeforeTheStartFailsAndKeepsThePosition) {
  const std::string name = FDir.File("seek.DAT");
  WriteBytes(name, 100);
  TFileHandler handler;
  handler.SetFileName(name);
  handler.OpenFile();
  EXPECT_EQ(handler.SeekFile(TSeekOrigin::Begin, 40), 40);
  EXPECT_EQ(handler.SeekFile(TSeekOrigin::Current, -41), -1);
  EXPECT_EQ(handler.SeekFile(TSeekOrigin::Current, 0), 40);
  EXPECT_EQ(handler.SeekFile(TSeekOrigin::End, 0), 100);
  EXPECT_EQ(handler.SeekFile(TSeekOrigin::Begin, 4294967295), 4294967295);
  std::vector<std::uint8_t> buffer(4);
  EXPECT_EQ(handler.ReadBuffer(buffer, true), 0);
}

}  // namespace
}  // namespace tarn
