// The session list, the default session and its passwords; the session's
// properties, the settings its engine session gets, start and stop, the
// component layer's lock; the table factory.

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <string>

#include "dbcomp/db_consts.h"
#include "dbcomp/session_list.h"
#include "dbcomp/table_factory.h"
#include "dbcomp/tarn_table.h"
#include "engine/base/engine_error.h"
#include "engine/session/data_session.h"

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

// The message of the EDatabaseError that action raises ("" when none).
std::string DatabaseMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const tarn::ETarnEngineError&) {
    return "engine error";
  } catch (const tarn::EDatabaseError& e) {
    return e.what();
  }
  return {};
}

// Whether another thread can take the component layer's lock right now.
bool LockFreeForOthers() {
  return std::async(std::launch::async,
                    [] {
                      std::unique_lock lock(Sessions().Lock(), std::try_to_lock);
                      return lock.owns_lock();
                    })
      .get();
}

TEST(SessionTest, ANewSessionHasEveryDefault) {
  TComponentLayer layer;
  TTarnSession& s = Sessions().CreateSession("Other");
  EXPECT_FALSE(s.Active());
  EXPECT_FALSE(s.AutoSessionName());
  EXPECT_EQ(s.AutoSessionNumber(), -1);
  EXPECT_TRUE(s.KeepConnections());
  EXPECT_EQ(s.PrivateDir(), "");
  EXPECT_EQ(s.ProgressSteps(), 20);
  EXPECT_EQ(s.LockRetryCount(), 15);
  EXPECT_EQ(s.LockWaitTime(), 100);
  EXPECT_EQ(s.LockProtocol(), TLockProtocol::lpPessimistic);
  EXPECT_FALSE(s.StrictChangeDetection());
  EXPECT_FALSE(s.ForceBufferFlush());
  EXPECT_EQ(s.SessionType(), TSessionType::stLocal);
  EXPECT_EQ(s.RemoteType(), TRemoteType::rtLAN);
  EXPECT_EQ(s.RemoteHost(), "");
  EXPECT_EQ(s.RemoteAddress(), "127.0.0.1");
  EXPECT_EQ(s.RemotePort(), 12005);
  EXPECT_EQ(s.RemoteService(), "");
  EXPECT_FALSE(s.RemoteTrace());
  EXPECT_EQ(s.RemoteUser(), "");
  EXPECT_EQ(s.RemotePassword(), "");
  EXPECT_EQ(s.EngineVersion(), "3.19");
  s.SetEngineVersion("9.99");
  EXPECT_EQ(s.EngineVersion(), "3.19");
  EXPECT_EQ(s.EngineSession(), nullptr);
  EXPECT_TRUE(DefaultSession().FirstSession());
  EXPECT_FALSE(s.FirstSession());
}

TEST(SessionTest, StartHandsTheSettingsToANewEngineSession) {
  TComponentLayer layer;
  TTarnSession& s = Sessions().CreateSession("Other");
  s.SetPrivateDir("/var/tmp/quiz");
  s.SetStrictChangeDetection(true);
  s.SetForceBufferFlush(true);
  s.SetLockRetryCount(3);
  s.SetLockWaitTime(7);
  s.SetLockProtocol(TLockProtocol::lpOptimistic);
  s.SetProgressSteps(5);
  s.Start();
  ASSERT_NE(s.EngineSession(), nullptr);
  ASSERT_NE(DefaultSession().EngineSession(), nullptr);  // the default session started first
  EXPECT_NE(s.EngineSession(), DefaultSession().EngineSession());
  const tarn::TDataSession& e = *s.EngineSession();
  EXPECT_EQ(e.PrivateDirectory().rfind("/var/tmp/quiz", 0), 0u);
  EXPECT_TRUE(e.StrictChangeDetection());
  EXPECT_TRUE(e.ForceBufferFlush());
  EXPECT_EQ(e.LockRetryCount(), 3);
  EXPECT_EQ(e.LockWaitTime(), 7);
  EXPECT_EQ(e.LockProtocol(), tarn::TLockProtocol::Optimistic);
  EXPECT_EQ(e.ProgressSteps(), 5);
  EXPECT_EQ(e.MaxDataBufferSize(), 16384);
  EXPECT_EQ(e.MaxDataBufferCount(), 8192);
  EXPECT_EQ(e.MaxIndexBufferSize(), 16384);
  EXPECT_EQ(e.MaxBlobBufferSize(), 32768);
  EXPECT_EQ(e.MaxBlobBufferCount(), 8192);
  EXPECT_FALSE(e.Remote());
  EXPECT_EQ(CurrentEngineSession(), s.EngineSession());

  // An empty PrivateDir clears the engine's: temporary files go to the
  // default directory.
  const tarn::TDataSession& d = *DefaultSession().EngineSession();
  EXPECT_EQ(d.PrivateDirectory(), "");
  EXPECT_EQ(d.GetTempDirectory(), d.DefaultDirectory());
}

TEST(SessionTest, SettingsChangedWhileActiveReachTheEngineAtOnce) {
  TComponentLayer layer;
  TTarnSession& s = DefaultSession();
  s.Start();
  const tarn::TDataSession& e = *s.EngineSession();
  struct TCase {
    const char* Name;
    std::function<void()> Change;
    std::function<bool()> Arrived;
  } cases[] = {
      {"PrivateDir", [&] { s.SetPrivateDir("/var/tmp/q"); },
       [&] { return e.PrivateDirectory().find("/var/tmp/q") == 0; }},
      {"ProgressSteps", [&] { s.SetProgressSteps(100); }, [&] { return e.ProgressSteps() == 100; }},
      {"LockRetryCount", [&] { s.SetLockRetryCount(0); }, [&] { return e.LockRetryCount() == 0; }},
      {"LockWaitTime", [&] { s.SetLockWaitTime(1); }, [&] { return e.LockWaitTime() == 1; }},
      {"LockProtocol", [&] { s.SetLockProtocol(TLockProtocol::lpOptimistic); },
       [&] { return e.LockProtocol() == tarn::TLockProtocol::Optimistic; }},
      {"StrictChangeDetection", [&] { s.SetStrictChangeDetection(true); },
       [&] { return e.StrictChangeDetection(); }},
      {"ForceBufferFlush", [&] { s.SetForceBufferFlush(true); },
       [&] { return e.ForceBufferFlush(); }},
      {"RemoteTrace", [&] { s.SetRemoteTrace(true); }, [&] { return s.RemoteTrace(); }},
      {"KeepConnections", [&] { s.SetKeepConnections(false); },
       [&] { return !s.KeepConnections(); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(DatabaseMessage(c.Change), "");
    EXPECT_TRUE(c.Arrived());
    EXPECT_EQ(s.EnterCount(), 0);
  }
  EXPECT_TRUE(LockFreeForOthers());

  // Values above 100 are ignored, active or not.
  s.SetProgressSteps(101);
  EXPECT_EQ(s.ProgressSteps(), 100);
  EXPECT_EQ(e.ProgressSteps(), 100);
  s.Stop();
  s.SetProgressSteps(0);
  s.SetProgressSteps(65535);
  EXPECT_EQ(s.ProgressSteps(), 0);
}

TEST(SessionTest, TheRemoteConnectionIsFixedWhileActive) {
  TComponentLayer layer;
  TTarnSession& s = DefaultSession();
  const std::function<void()> setters[] = {
      [&] { s.SetSessionType(TSessionType::stLocal); },
      [&] { s.SetRemoteType(TRemoteType::rtInternet); },
      [&] { s.SetRemoteHost("quiz"); },
      [&] { s.SetRemoteAddress("10.0.0.1"); },
      [&] { s.SetRemotePort(1); },
      [&] { s.SetRemoteService("tarn"); },
      [&] { s.SetRemoteUser("admin"); },
      [&] { s.SetRemotePassword("x"); },
      [&] { s.SetSessionName("Another"); },
  };
  s.Start();
  for (const auto& set : setters)
    EXPECT_EQ(DatabaseMessage(set), "Cannot perform this operation on an active session.");
  EXPECT_EQ(s.RemoteHost(), "");
  EXPECT_EQ(s.SessionName(), "Default");
  s.Stop();
  for (const auto& set : setters) EXPECT_EQ(DatabaseMessage(set), "");
  EXPECT_EQ(s.RemotePort(), 1);
  EXPECT_EQ(s.RemoteType(), TRemoteType::rtInternet);
}

TEST(SessionTest, StartingARemoteSessionRaisesTheConnectErrorAndStaysInactive) {
  TComponentLayer layer;
  TTarnSession& s = Sessions().CreateSession("Remote");
  s.SetSessionType(TSessionType::stRemote);
  s.SetRemoteHost("quizserver");
  for (const std::function<void()>& start : {std::function<void()>([&] { s.Start(); }),
                                             std::function<void()>([&] { s.AddPassword("x"); })}) {
    try {
      start();
      ADD_FAILURE() << "started";
    } catch (const tarn::ETarnEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), tarn::TARN_REMOTECONNECT);
      EXPECT_EQ(e.ErrorServer(), "quizserver");
    }
    EXPECT_FALSE(s.Active());
    EXPECT_EQ(s.EngineSession(), nullptr);
    EXPECT_EQ(s.EnterCount(), 0);
    EXPECT_TRUE(LockFreeForOthers());
  }
  EXPECT_TRUE(DefaultSession().Active());  // started first, and left running
  EXPECT_EQ(CurrentEngineSession(), DefaultSession().EngineSession());

  // Without a host name the address names the server.
  s.SetRemoteHost("");
  try {
    s.Start();
    ADD_FAILURE() << "started";
  } catch (const tarn::ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorServer(), "127.0.0.1");
  }
}

TEST(SessionTest, EnterNestsAndOnlyTheLastLeaveReleasesTheLock) {
  TComponentLayer layer;
  TTarnSession& other = Sessions().CreateSession("Other");
  other.Enter();  // starts it (and the default session)
  EXPECT_TRUE(other.Active());
  EXPECT_EQ(CurrentEngineSession(), other.EngineSession());
  other.Enter();
  EXPECT_EQ(other.EnterCount(), 2);
  DefaultSession().Enter();  // the same thread may enter another session
  EXPECT_EQ(CurrentEngineSession(), DefaultSession().EngineSession());
  DefaultSession().Leave();
  other.Leave();
  EXPECT_FALSE(LockFreeForOthers());
  other.Leave();
  EXPECT_EQ(other.EnterCount(), 0);
  EXPECT_TRUE(LockFreeForOthers());
  other.Leave();  // an unmatched Leave does nothing
  EXPECT_EQ(other.EnterCount(), 0);
}

TEST(SessionTest, StopDropsTheEngineSessionAndTheFirstSessionsIsCurrentAgain) {
  TComponentLayer layer;
  TTarnSession& other = Sessions().CreateSession("Other");
  other.AddPassword("p");
  tarn::TDataSession* defaultEngine = DefaultSession().EngineSession();
  ASSERT_NE(defaultEngine, nullptr);
  EXPECT_EQ(CurrentEngineSession(), other.EngineSession());
  other.Stop();
  EXPECT_FALSE(other.Active());
  EXPECT_EQ(other.EngineSession(), nullptr);
  EXPECT_EQ(CurrentEngineSession(), defaultEngine);
  other.SetActive(true);
  EXPECT_FALSE(other.HasPassword("p"));  // a new engine session, a new list
  DefaultSession().SetActive(false);
  EXPECT_EQ(CurrentEngineSession(), nullptr);  // the process-wide session is finalised
  EXPECT_TRUE(other.Active());
  other.Stop();
  other.Stop();  // stopping an inactive session does nothing
}

TEST(SessionTest, OnStartupRunsAtEveryStartBeforeTheNameIsChecked) {
  TComponentLayer layer;
  TTarnSession& s = Sessions().CreateSession("");
  int starts = 0;
  s.OnStartup = [&](TTarnSession& sender) {
    EXPECT_EQ(&sender, &s);
    if (++starts == 2) sender.SetSessionName("Named");
  };
  EXPECT_EQ(DatabaseMessage([&] { s.Start(); }), "Session name is missing.");
  EXPECT_FALSE(s.Active());
  s.Start();
  EXPECT_TRUE(s.Active());
  s.Start();  // already active: no second OnStartup
  EXPECT_EQ(starts, 2);
}

TEST(SessionTest, ActiveSetWhileLoadingTakesEffectWhenLoadingEnds) {
  TComponentLayer layer;
  TTarnSession& s = Sessions().CreateSession("Stored");
  s.BeginLoading();
  s.SetActive(true);
  EXPECT_FALSE(s.Active());
  s.EndLoading();
  EXPECT_TRUE(s.Active());
}

TEST(SessionTest, RemoteLoginAndTraceCallbacks) {
  TComponentLayer layer;
  TTarnSession& s = DefaultSession();
  std::string user = "guest";
  std::string password = "pw";
  EXPECT_FALSE(s.RequestRemoteLogin(user, password));  // no handler, no login dialog
  s.OnRemoteLogin = [](TTarnSession&, std::string& u, std::string& p, bool& continueLogin) {
    EXPECT_TRUE(continueLogin);
    u = "admin";
    p = std::string(300, 'x');
  };
  EXPECT_TRUE(s.RequestRemoteLogin(user, password));
  EXPECT_EQ(user, "admin");
  EXPECT_EQ(password.size(), 255u);

  std::string traced;
  EXPECT_TRUE(s.TraceRemote("ignored"));
  s.OnRemoteTrace = [&](TTarnSession&, std::string_view line) { traced = std::string(line); };
  EXPECT_TRUE(s.TraceRemote("request 1"));
  EXPECT_EQ(traced, "request 1");
}

TEST(SessionTest, NoComponentLayerNoSessions) { EXPECT_THROW(Sessions(), tarn::EDatabaseError); }

TEST(TableFactoryTest, TheBuiltInFactoryMakesATableComponentThatFindsNoTableThere) {
  TComponentLayer layer;
  std::unique_ptr<TDataSet> table = CreateTable("C:/T30G", "velmorn2");
  ASSERT_NE(dynamic_cast<TTarnTable*>(table.get()), nullptr);
  EXPECT_EQ(static_cast<TTarnTable&>(*table).DatabaseName(), "C:\\T30G");
  try {
    table->Open();
    FAIL();
  } catch (const tarn::ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), tarn::TARN_OSENOENT);
    EXPECT_EQ(e.ErrorTable(), "C:\\T30G\\velmorn2.DAT");
    EXPECT_STREQ(e.what(), "Tarn Engine Error # 11010 Table 'C:\\T30G\\velmorn2.DAT' does not exist");
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
  EXPECT_NE(dynamic_cast<TTarnTable*>(CreateTable("x", "t").get()), nullptr);
}

}  // namespace
}  // namespace dbcomp
