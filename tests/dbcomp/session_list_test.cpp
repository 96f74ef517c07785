// Auto-named sessions and their numbers, the owner rules, freeing sessions
// with their owner or their list, and the list under two threads.

#include "dbcomp/session_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dbcomp/component_owner.h"
#include "dbcomp/session_client.h"
#include "engine/base/engine_error.h"

namespace dbcomp {
namespace {

std::string DatabaseMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const tarn::EDatabaseError& e) {
    return e.what();
  }
  return {};
}

// A table component's view of its session name.
class TFakeTable : public TSessionClient {
 public:
  std::string SessionName() const override { return FName; }
  void SetSessionName(std::string_view name) override {
    FName = std::string(name);
    ++Renames;
  }
  std::string FName;
  int Renames = 0;
};

TTarnSession& AutoSession(TComponentOwner& owner, const char* componentName) {
  TTarnSession& s = Sessions().CreateSession("", &owner);
  s.SetName(componentName);
  s.SetAutoSessionName(true);
  return s;
}

TEST(SessionListTest, AutoNamedSessionsTakeTheLowestFreeNumber) {
  TComponentLayer layer;
  TComponentOwner form1, form2, form3, form4;
  TTarnSession& a = AutoSession(form1, "Session1");
  TTarnSession& b = AutoSession(form2, "Session1");
  EXPECT_EQ(a.SessionName(), "Session1_1");
  EXPECT_EQ(b.SessionName(), "Session1_2");
  EXPECT_EQ(Sessions().AutoSessionNumbers(), (std::vector<int>{0, 1}));

  a.SetAutoSessionName(false);  // frees number 0; the name stays
  EXPECT_EQ(a.AutoSessionNumber(), -1);
  EXPECT_EQ(a.SessionName(), "Session1_1");
  EXPECT_EQ(Sessions().AutoSessionNumbers(), (std::vector<int>{1}));

  // The free number 0 would repeat a's name: refused, and the number is given back.
  TTarnSession& c = Sessions().CreateSession("", &form3);
  c.SetName("Session1");
  EXPECT_EQ(DatabaseMessage([&] { c.SetAutoSessionName(true); }),
            "Session name Session1_1 already exists.");
  EXPECT_FALSE(c.AutoSessionName());
  EXPECT_EQ(Sessions().AutoSessionNumbers(), (std::vector<int>{1}));

  TTarnSession& d = AutoSession(form4, "Session3");
  EXPECT_EQ(d.SessionName(), "Session3_1");
  EXPECT_EQ(d.AutoSessionNumber(), 0);

  // Freeing a session gives its number back.
  Sessions().FreeSession(b);
  EXPECT_EQ(Sessions().AutoSessionNumbers(), (std::vector<int>{0}));
  EXPECT_TRUE(Sessions().CheckInvariants());
}

TEST(SessionListTest, AnAutoSessionIsItsOwnersOnlySessionAndNamesItsComponents) {
  TComponentLayer layer;
  TComponentOwner form;
  TFakeTable table, query, sameName;
  sameName.FName = "Quiz_1";
  form.AddSessionClient(table);
  form.AddSessionClient(sameName);
  TTarnSession& s = Sessions().CreateSession("Plain", &form);
  s.SetName("Quiz");

  s.Start();
  EXPECT_EQ(DatabaseMessage([&] { s.SetAutoSessionName(true); }),
            "Cannot perform this operation on an active session.");
  s.Stop();
  s.SetAutoSessionName(true);
  EXPECT_EQ(s.SessionName(), "Quiz_1");
  EXPECT_EQ(table.FName, "Quiz_1");
  EXPECT_EQ(sameName.Renames, 0);  // only components whose name differs
  form.AddSessionClient(query);    // added later: takes the name too
  EXPECT_EQ(query.FName, "Quiz_1");

  EXPECT_EQ(DatabaseMessage([&] { Sessions().CreateSession("Second", &form); }),
            "This auto-session already exists.");
  EXPECT_EQ(DatabaseMessage([&] { s.SetSessionName("Mine"); }),
            "Cannot perform this operation on the active auto-session.");

  // Renaming the component renames the session and its components.
  s.SetName("Game");
  EXPECT_EQ(s.SessionName(), "Game_1");
  EXPECT_EQ(query.FName, "Game_1");
  s.Start();
  EXPECT_EQ(DatabaseMessage([&] { s.SetName("Other"); }),
            "Cannot perform this operation on an active session.");
  EXPECT_EQ(s.Name(), "Game");
  s.Stop();

  // A second session of the owner cannot be auto-named.
  s.SetAutoSessionName(false);
  TTarnSession& second = Sessions().CreateSession("Second", &form);
  EXPECT_EQ(DatabaseMessage([&] { second.SetAutoSessionName(true); }),
            "The active auto-session can be the only active session.");
  EXPECT_EQ(DatabaseMessage([&] { s.SetAutoSessionName(true); }),
            "The active auto-session can be the only active session.");
  EXPECT_TRUE(Sessions().AutoSessionNumbers().empty());
}

TEST(SessionListTest, OwnerAndListFreeSessionsInEitherOrder) {
  auto layer = std::make_unique<TComponentLayer>();
  {
    TComponentOwner form;
    TTarnSession& s = AutoSession(form, "Form");
    s.Start();
    EXPECT_EQ(Sessions().Count(), 2u);
  }
  EXPECT_EQ(Sessions().Count(), 1u);  // the owner freed its session and number
  EXPECT_TRUE(Sessions().AutoSessionNumbers().empty());

  TComponentOwner survivor;
  AutoSession(survivor, "Late").Start();
  DefaultSession().AddPassword("p");
  layer.reset();  // frees every session still listed, the default one last
  EXPECT_TRUE(survivor.OwnedSessions().empty());
  EXPECT_EQ(CurrentEngineSession(), nullptr);
}

TEST(SessionListTest, TwoThreadsCreatingAndFreeingSessionsKeepTheListConsistent) {
  TComponentLayer layer;
  constexpr int Rounds = 150;
  std::atomic<bool> failed{false};
  auto work = [&](const std::string& prefix) {
    try {
      for (int i = 0; i < Rounds; ++i) {
        TComponentOwner form;
        TTarnSession& s = Sessions().CreateSession("", &form);
        s.SetName(prefix);
        s.SetAutoSessionName(true);
        // At most two auto sessions exist at once: numbers 0 and 1 only.
        if (s.AutoSessionNumber() > 1) failed = true;
        if (Sessions().FindSession(s.SessionName()) != &s) failed = true;
        if (i % 3 == 0) s.AddPassword(prefix);  // starts it: an engine session of its own
        if (i % 3 == 1) {
          TTarnSession& named = Sessions().CreateSession(prefix + std::to_string(i));
          Sessions().FreeSession(named);
        }
        if (!Sessions().CheckInvariants()) failed = true;
      }
    } catch (...) {
      failed = true;
    }
  };
  std::thread first(work, "Left");
  std::thread second(work, "Right");
  first.join();
  second.join();
  EXPECT_FALSE(failed);
  EXPECT_EQ(Sessions().Count(), 1u);
  EXPECT_TRUE(Sessions().AutoSessionNumbers().empty());
  EXPECT_TRUE(Sessions().CheckInvariants());
  EXPECT_EQ(Sessions().FindSession(""), &DefaultSession());
}

}  // namespace
}  // namespace dbcomp
