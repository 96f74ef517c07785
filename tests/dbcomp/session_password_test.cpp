// The session's password callback as the engine uses it when it opens an
// encrypted table: the registered list, OnPassword, and the dialog hook.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "dbcomp/encrypted_table.h"
#include "dbcomp/password_hook.h"
#include "dbcomp/session_list.h"
#include "support/temp_dir.h"

namespace dbcomp {
namespace {

using dbcomp_testing::EncryptedTablePassword;
using dbcomp_testing::OpenEncryptedTable;

// Installs a hook for one test and puts the previous one back.
class THookScope {
 public:
  explicit THookScope(TPasswordHook hook) : FPrevious(SetPasswordHook(std::move(hook))) {}
  ~THookScope() { SetPasswordHook(std::move(FPrevious)); }
  THookScope(const THookScope&) = delete;
  THookScope& operator=(const THookScope&) = delete;

 private:
  TPasswordHook FPrevious;
};

// What a handler (OnPassword or the dialog hook) does when it is asked.
enum class TAnswer { Absent, Decline, AddAndRetry, RetryWithWrongCase };

void Answer(TAnswer answer, TTarnSession& session, bool& result) {
  switch (answer) {
    case TAnswer::Absent:
    case TAnswer::Decline:
      result = false;
      break;
    case TAnswer::AddAndRetry:
      session.AddPassword(EncryptedTablePassword);
      result = true;
      break;
    case TAnswer::RetryWithWrongCase:
      // Asked again after this; the second time it gives up.
      result = !session.HasPassword("open sesame");
      session.AddPassword("open sesame");
      break;
  }
}

class SessionPasswordTest : public ::testing::Test {
 protected:
  SessionPasswordTest() { dbcomp_testing::CreateEncryptedTable(FTemp.Path()); }
  testing_support::TTempDir FTemp;
  TComponentLayer FLayer;
};

TEST_F(SessionPasswordTest, TheEngineAsksOnPasswordElseTheHookAndARefusalIs10498) {
  struct TCase {
    const char* Name;
    bool Registered;
    TAnswer OnPassword;
    TAnswer Hook;
    tarn::TErrorCode Expected;
    int OnPasswordCalls;
    int HookCalls;
  } cases[] = {
      {"registered: nobody is asked", true, TAnswer::Decline, TAnswer::Decline, tarn::TARN_NONE, 0,
       0},
      {"OnPassword adds it", false, TAnswer::AddAndRetry, TAnswer::Decline, tarn::TARN_NONE, 1, 0},
      {"OnPassword declines", false, TAnswer::Decline, TAnswer::AddAndRetry,
       tarn::TARN_NOTSUFFTABLERIGHTS, 1, 0},
      {"OnPassword retries in vain", false, TAnswer::RetryWithWrongCase, TAnswer::Decline,
       tarn::TARN_NOTSUFFTABLERIGHTS, 2, 0},
      {"the hook adds it", false, TAnswer::Absent, TAnswer::AddAndRetry, tarn::TARN_NONE, 0, 1},
      {"the hook declines", false, TAnswer::Absent, TAnswer::Decline, tarn::TARN_NOTSUFFTABLERIGHTS,
       0, 1},
      {"no hook installed", false, TAnswer::Absent, TAnswer::Absent, tarn::TARN_NOTSUFFTABLERIGHTS,
       0, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTarnSession& session = Sessions().CreateSession("Reader");
    session.AddPassword("something else");
    if (c.Registered) session.AddPassword(EncryptedTablePassword);
    int onPasswordCalls = 0;
    int hookCalls = 0;
    if (c.OnPassword != TAnswer::Absent) {
      session.OnPassword = [&](TTarnSession& sender, bool& continueOpen) {
        EXPECT_EQ(&sender, &session);
        EXPECT_FALSE(continueOpen);
        EXPECT_GT(sender.EnterCount(), 0);  // asked inside the engine call
        ++onPasswordCalls;
        Answer(c.OnPassword, sender, continueOpen);
      };
    }
    TPasswordHook hook;
    if (c.Hook != TAnswer::Absent) {
      hook = [&](TTarnSession& sender) {
        EXPECT_EQ(&sender, &session);
        ++hookCalls;
        bool result = false;
        Answer(c.Hook, sender, result);
        return result;
      };
    }
    THookScope scope(hook);
    EXPECT_EQ(OpenEncryptedTable(session, FTemp.Path()), c.Expected);
    EXPECT_EQ(onPasswordCalls, c.OnPasswordCalls);
    EXPECT_EQ(hookCalls, c.HookCalls);
    EXPECT_EQ(session.EnterCount(), 0);
    Sessions().FreeSession(session);
  }
}

TEST_F(SessionPasswordTest, PasswordsLiveInTheEngineSessionAndGoWithIt) {
  TTarnSession& session = Sessions().CreateSession("Reader");
  EXPECT_FALSE(session.HasPassword(EncryptedTablePassword));
  EXPECT_TRUE(session.Passwords().empty());
  session.AddPassword(EncryptedTablePassword);
  EXPECT_TRUE(session.EngineSession()->HasPassword(EncryptedTablePassword));
  EXPECT_FALSE(DefaultSession().HasPassword(EncryptedTablePassword));  // lists are per session
  EXPECT_EQ(OpenEncryptedTable(session, FTemp.Path()), tarn::TARN_NONE);
  session.Stop();
  EXPECT_FALSE(session.HasPassword(EncryptedTablePassword));
  EXPECT_EQ(OpenEncryptedTable(session, FTemp.Path()),
            tarn::TARN_NOTSUFFTABLERIGHTS);  // restarted, empty list
  EXPECT_TRUE(session.Active());
}

TEST_F(SessionPasswordTest, AnExceptionFromOnPasswordReachesTheOpenerAndLeavesTheLock) {
  TTarnSession& session = Sessions().CreateSession("Reader");
  session.OnPassword = [](TTarnSession&, bool&) { throw std::runtime_error("no keyboard"); };
  {
    TSessionGuard guard(session);
    tarn::TDataDirectory& dir = session.EngineSession()->OpenDirectory("Quiz", FTemp.Path());
    dbcomp_testing::TSessionCursor cursor(session);
    EXPECT_THROW(dir.OpenTableForCursor(dbcomp_testing::EncryptedTableName, {}, cursor),
                 std::runtime_error);
    EXPECT_EQ(dir.TableCount(), 0u);
    session.EngineSession()->CloseDirectory(dir);
  }
  EXPECT_EQ(session.EnterCount(), 0);
}

}  // namespace
}  // namespace dbcomp
