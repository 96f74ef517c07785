#include "engine/files/range_lock_table.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "engine/files/child_process.h"
#include "engine/files/fault_file_api.h"
#include "engine/files/file_handler.h"
#include "engine/files/physical_file.h"
#include "support/temp_dir.h"

namespace tarn {
namespace {

using files_test::TChildProcess;

// Where the table lock protocols put their ranges: near the top of 4 GB.
constexpr std::int64_t HighOffset = 4094967293;

class RangeLockTest : public testing::Test {
 protected:
  void SetUp() override {
    FName = FDir.File("locks.DAT");
    std::ofstream(FName, std::ios::binary) << std::string(10, 'l');  // tiny: locks lie far beyond
  }
  void TearDown() override { EXPECT_TRUE(TRangeLockTable::Instance().CheckInvariants()); }

  TFileHandler& Open(TFileHandler& handler, const std::string& name) {
    handler.SetFileName(name);
    handler.OpenFile();
    return handler;
  }

  TFileIdentity Identity() const {
    struct stat info;
    EXPECT_EQ(::stat(FName.c_str(), &info), 0);
    return TFileIdentity{info.st_dev, info.st_ino};
  }

  testing_support::TTempDir FDir;
  std::string FName;
};

TEST_F(RangeLockTest, SameProcessIsRefusedThroughAnyHandleOrName) {
  TFileHandler a;
  TFileHandler b;
  Open(a, FName);
  Open(b, FName);
  ASSERT_TRUE(a.LockRegion(true, HighOffset, 10));

  struct TCase {
    std::int64_t Offset;
    std::int64_t Length;
    bool Granted;
  };
  const TCase cases[] = {
      {HighOffset, 10, false},      {HighOffset - 5, 5, true},  {HighOffset - 5, 6, false},
      {HighOffset + 9, 1, false},   {HighOffset + 10, 1, true}, {HighOffset + 2, 2, false},
      {HighOffset - 100, 1000, false}, {4294967295, 1, true},   {0, 0, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Offset << "+" << c.Length);
    for (TFileHandler* h : {&a, &b}) {  // the same handle and another handle alike
      const bool granted = h->LockRegion(true, c.Offset, c.Length);
      EXPECT_EQ(granted, c.Granted);
      if (granted) {
        EXPECT_TRUE(h->LockRegion(false, c.Offset, c.Length));
      }
    }
  }

  // A second name of the same file (a hard link) is another file object and
  // another descriptor, but the same file: still refused.
  const std::string link = FDir.File("link.DAT");
  ASSERT_EQ(::link(FName.c_str(), link.c_str()), 0);
  TFileHandler viaLink;
  Open(viaLink, link);
  ASSERT_NE(viaLink.File(), a.File());
  EXPECT_FALSE(viaLink.LockRegion(true, HighOffset + 5, 1));
  EXPECT_TRUE(viaLink.LockRegion(true, HighOffset + 20, 1));
  EXPECT_EQ(TRangeLockTable::Instance().HeldCount(Identity()), 2u);
}

TEST_F(RangeLockTest, UnlockMustNameExactlyAHeldRange) {
  TFileHandler a;
  Open(a, FName);
  ASSERT_TRUE(a.LockRegion(true, HighOffset, 10));
  EXPECT_FALSE(a.LockRegion(false, HighOffset, 9));
  EXPECT_FALSE(a.LockRegion(false, HighOffset + 1, 9));
  EXPECT_FALSE(a.LockRegion(false, HighOffset, 11));
  EXPECT_FALSE(a.LockRegion(true, HighOffset, 10)) << "still held after the failed unlocks";
  EXPECT_TRUE(a.LockRegion(false, HighOffset, 10));
  EXPECT_FALSE(a.LockRegion(false, HighOffset, 10));
  EXPECT_EQ(TRangeLockTable::Instance().HeldCount(Identity()), 0u);
}

TEST_F(RangeLockTest, ClosingTheFileReleasesItsRanges) {
  {
    TFileHandler a;
    Open(a, FName);
    ASSERT_TRUE(a.LockRegion(true, HighOffset, 10));
  }
  EXPECT_EQ(TRangeLockTable::Instance().HeldCount(Identity()), 0u);
  TFileHandler b;
  Open(b, FName);
  EXPECT_TRUE(b.LockRegion(true, HighOffset, 10));
}

TEST_F(RangeLockTest, FailedOsUnlockStillCountsAsReleased) {
  TFileHandler a;
  Open(a, FName);
  ASSERT_TRUE(a.LockRegion(true, HighOffset, 10));
  {
    TFaultFileApi faults;
    TOsFileApiOverride use(faults);
    faults.Fail(TOsCall::OfdSetLock, EIO);
    EXPECT_FALSE(a.LockRegion(false, HighOffset, 10));
  }
  EXPECT_EQ(TRangeLockTable::Instance().HeldCount(Identity()), 0u);
  EXPECT_TRUE(a.LockRegion(true, HighOffset, 10));  // OFD locks replace our own range
  {
    TFaultFileApi faults;
    TOsFileApiOverride use(faults);
    faults.Fail(TOsCall::OfdSetLock, ENOLCK);
    EXPECT_FALSE(a.LockRegion(true, HighOffset + 100, 1));  // a failed lock changes nothing
  }
  EXPECT_EQ(TRangeLockTable::Instance().HeldCount(Identity()), 1u);
}

// The child locks a range, the parent is refused, the child exits, the
// parent gets it.
TEST_F(RangeLockTest, AnotherProcessIsRefusedUntilItsHolderExits) {
  TChildProcess child([&](TChildProcess& self) {
    TFileHandler holder;
    holder.SetFileName(FName);
    holder.OpenFile();
    if (!holder.LockRegion(true, HighOffset, 10)) return 1;
    self.Send(TChildProcess::Ready);
    self.Receive();
    return 0;  // exits holding the lock
  });
  ASSERT_EQ(child.Receive(), TChildProcess::Ready);
  TFileHandler parent;
  Open(parent, FName);
  EXPECT_FALSE(parent.LockRegion(true, HighOffset, 10));
  EXPECT_FALSE(parent.LockRegion(true, HighOffset + 9, 5));
  EXPECT_TRUE(parent.LockRegion(true, HighOffset + 10, 5));
  EXPECT_EQ(TRangeLockTable::Instance().HeldCount(Identity()), 1u) << "refusals are not recorded";
  child.Send(TChildProcess::Go);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_TRUE(parent.LockRegion(true, HighOffset, 10));
}

// The parent holds; the forked child, with a file list of its own, is refused.
TEST_F(RangeLockTest, HolderHereRefusesAForkedChild) {
  for (const bool readOnlyHolder : {false, true}) {
    SCOPED_TRACE(readOnlyHolder ? "read-only holder" : "read/write holder");
    ASSERT_EQ(::chmod(FName.c_str(), readOnlyHolder ? 0444 : 0644), 0);
    TChildProcess child([&](TChildProcess& self) {
      self.Receive();  // until the parent holds the range
      ::chmod(FName.c_str(), 0644);
      TFileHandler other;
      other.SetFileName(FName);
      other.OpenFile();
      const bool overlapping = other.LockRegion(true, HighOffset + 5, 10);
      const bool beside = other.LockRegion(true, HighOffset + 10, 10);
      return (overlapping ? 0 : 1) | (beside ? 2 : 0);
    });
    TFileHandler holder;
    Open(holder, FName);
    EXPECT_EQ(holder.ReadOnlyAttr(), readOnlyHolder);
    ASSERT_TRUE(holder.LockRegion(true, HighOffset, 10));
    child.Send(TChildProcess::Go);
    EXPECT_EQ(child.Wait(), 1 | 2);
  }
}

}  // namespace
}  // namespace tarn
