// The session list, the default session and its passwords; the table factory.

#include "dbcomp/session_list.h"

#include <gtest/gtest.h>

#include "dbcomp/table_factory.h"
#include "engine/base/engine_error.h"

namespace dbcomp {
namespace {

TEST(SessionTest, TheDefaultSessionIsFoundByTheEmptyNameAndStartsWithItsFirstPassword) {
  TComponentLayer layer;
  TTarnSession& def = DefaultSession();
  EXPECT_EQ(def.SessionName(), "Default");
  EXPECT_EQ(Sessions().FindSession(""), &def);
  EXPECT_EQ(Sessions().FindSession("DEFAULT"), &def);
  EXPECT_FALSE(def.Active());
  def.AddPassword("tamsin");
  EXPECT_TRUE(def.Active());
  EXPECT_TRUE(def.HasPassword("tamsin"));
  EXPECT_FALSE(def.HasPassword("Tamsin"));  // passwords compare exactly
  EXPECT_EQ(def.EnterCount(), 0);
  def.AddPassword(std::string(300, 'p'));
  EXPECT_TRUE(def.HasPassword(std::string(255, 'p')));
  def.RemovePassword("tamsin");
  EXPECT_FALSE(def.HasPassword("tamsin"));
  def.RemoveAllPasswords();
  EXPECT_TRUE(def.Passwords().empty());
}

TEST(SessionTest, SessionNamesAreUniqueIgnoringCase) {
  TComponentLayer layer;
  try {
    Sessions().GetSession("Nope");
    FAIL();
  } catch (const tarn::EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Session name Nope is not valid.");
  }
  for (const char* name : {"Default", "default", "DEFAULT"}) {
    try {
      Sessions().CreateSession(name);
      ADD_FAILURE() << name;
    } catch (const tarn::EDatabaseError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Session name ") + name + " already exists.");
    }
  }
  TTarnSession& other = Sessions().CreateSession("Other");
  EXPECT_THROW(other.SetSessionName("dEfAuLt"), tarn::EDatabaseError);
  other.Start();
  EXPECT_TRUE(DefaultSession().Active());  // started first
  try {
    other.SetSessionName("Third");
    FAIL();
  } catch (const tarn::EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot perform this operation on an active session.");
  }
  other.Stop();
  other.SetSessionName("");
  EXPECT_THROW(other.Start(), tarn::EDatabaseError);
  EXPECT_FALSE(other.Active());
}

TEST(SessionTest, NoComponentLayerNoSessions) {
  EXPECT_THROW(Sessions(), tarn::EDatabaseError);
}

TEST(TableFactoryTest, WithoutATableComponentEveryTableIsMissing) {
  try {
    CreateTable("C:/T30G", "velmorn2");
    FAIL();
  } catch (const tarn::ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), tarn::TARN_OSENOENT);
    EXPECT_EQ(e.ErrorTable(), "velmorn2");
    EXPECT_EQ(e.ErrorDatabase(), "C:\\T30G");
    EXPECT_STREQ(e.what(), "Tarn Engine Error # 11010 Table 'velmorn2' does not exist");
  }
}

TEST(TableFactoryTest, TheInstalledFactoryGetsTheNormalisedNames) {
  std::string seen;
  TTableFactory previous = SetTableFactory([&](const std::string& db, const std::string& table) {
    seen = db + "|" + table;
    return std::unique_ptr<TDataSet>();
  });
  CreateTable("a/b\\c/", "t");
  EXPECT_EQ(seen, "a\\b\\c\\|t");
  CreateTable(std::string(300, 'x'), "t");
  EXPECT_EQ(seen.size(), 255u + 2u);
  SetTableFactory(previous);
  EXPECT_THROW(CreateTable("x", "t"), tarn::ETarnEngineError);
}

}  // namespace
}  // namespace dbcomp
