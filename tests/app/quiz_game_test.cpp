// The game's rules, on an in-memory question table and on a real Tarn table
// in a temporary directory.

#include "app/quiz_game.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>

#include "app/paths.h"
#include "app/questions/question_table.h"
#include "app/sound_player.h"
#include "dbcomp/data_source.h"
#include "dbcomp/field_data_link.h"
#include "dbcomp/memory_data_set.h"
#include "dbcomp/session_list.h"
#include "dbcomp/tarn_table.h"
#include "support/temp_dir.h"

namespace vantor {
namespace {

using dbcomp::TFieldType;

dbcomp::TFieldDefs QuestionDefs() {
  return {{"QuizName", TFieldType::String, 20},
          {"Order", TFieldType::Smallint},
          {"Question", TFieldType::Blob},
          {"AnswerTx", TFieldType::String, 1},
          {"UserAnswer", TFieldType::String, 1}};
}

// The answer group as the data-aware radio group behaves: a click asks for
// edit mode, then holds the letter until the record is posted.
class TAnswerGroup {
 public:
  explicit TAnswerGroup(dbcomp::TDataSource& source) {
    FLink.SetFieldName("UserAnswer");
    FLink.OnDataChange = [this] { Value = FLink.Field() ? FLink.Field()->Text() : ""; };
    FLink.OnUpdateData = [this] { FLink.Field()->SetText(Value); };
    FLink.SetDataSource(&source);
  }
  void Pick(const std::string& letter) {
    if (!FLink.Edit()) return;
    Value = letter;
    FLink.MarkModified();
  }
  int ItemIndex() const {
    static const std::string items[] = {"A", "B", "C", "D"};
    for (int i = 0; i < 4; ++i)
      if (items[i] == Value) return i;
    return -1;
  }
  std::string Value;

 private:
  dbcomp::TFieldDataLink FLink;
};

class TFakeView : public TQuizView {
 public:
  explicit TFakeView(TAnswerGroup& group) : FGroup(group) {}
  std::string AnswerValue() const override { return FGroup.Value; }
  int AnswerItemIndex() const override { return FGroup.ItemIndex(); }
  void PlaySound(const std::string& fileName) override {
    const std::string name = ExtractFileName(fileName);
    if (MissingSounds.count(name) != 0) throw ESoundError("The sound file \"" + name + "\" cannot be opened");
    Sounds.push_back(name);
  }
  void ShowInfo(const std::string& message) override { Messages.push_back(message); }
  void SetNextButtonEnabled(bool enabled) override {
    NextEnabled = enabled;
    ++ButtonChanges;
  }
  void FocusAnswer() override { ++Focused; }

  std::vector<std::string> Sounds;
  std::vector<std::string> Messages;
  std::set<std::string> MissingSounds;
  bool NextEnabled = false;
  int ButtonChanges = 0;
  int Focused = 0;

 private:
  TAnswerGroup& FGroup;
};

const std::string Cheers(RightSound);
const std::string Wrong(WrongSound);
const std::string TryAgain(GameMsg::TryAgain);
const std::string YouWin(GameMsg::YouWin);

enum class TTableKind { Memory, Real };

class QuizGameTest : public ::testing::TestWithParam<TTableKind> {
 protected:
  // One question per letter of `answers` ("AnswerTx"), every stored answer
  // set to "D" so that the new game has something to clear.
  void Load(const std::string& answers) {
    if (GetParam() == TTableKind::Memory) {
      auto table = std::make_unique<dbcomp::TMemoryDataSet>(QuestionDefs());
      for (std::size_t i = 0; i < answers.size(); ++i)
        table->AppendRow({"Quiz", std::to_string(i + 1), "question", std::string(1, answers[i]), "D"});
      Memory = table.get();
      Table = std::move(table);
    } else {
      std::vector<TSampleQuestion> questions;
      for (std::size_t i = 0; i < answers.size(); ++i) {
        const std::string text = "question";
        questions.push_back({"Quiz", static_cast<std::int16_t>(i + 1),
                             std::vector<std::uint8_t>(text.begin(), text.end()), std::string(1, answers[i]),
                             "D"});
      }
      WriteQuestionTable(Dir.Path(), questions, "tamsin");
      dbcomp::DefaultSession().AddPassword("tamsin");
      Table = OpenReal(false);
    }
    Table->AfterPost = [this](dbcomp::TDataSet&) { ++Posts; };
    Source.SetDataSet(Table.get());
    Game.emplace(*Table, View);
    if (!Table->Active()) Table->Open();
    Game->NewGame();
    Idle();
  }
  std::unique_ptr<dbcomp::TDataSet> OpenReal(bool open) const {
    auto table = std::make_unique<dbcomp::TTarnTable>();
    table->SetDatabaseName(Dir.Path());
    table->SetTableName("velmorn2");
    if (open) table->Open();
    return table;
  }
  // The stored "UserAnswer" of the question in that row, read past the
  // game's table.
  std::optional<std::string> StoredAnswer(std::size_t row) const {
    if (Memory != nullptr) return Memory->RowValue(row, "UserAnswer");
    std::unique_ptr<dbcomp::TDataSet> reader = OpenReal(true);
    for (std::size_t i = 0; i < row; ++i) reader->Next();
    dbcomp::TField& f = reader->FieldByName("UserAnswer");
    return f.IsNull() ? std::nullopt : std::optional(f.AsString());
  }
  // No record of the table is locked for an edit.
  bool NoRecordLocked() const {
    if (Memory != nullptr) return Memory->LockedRows().empty();
    std::unique_ptr<dbcomp::TDataSet> other = OpenReal(true);
    for (other->First(); !other->IsEmpty();) {
      other->Edit();  // raises when the game's table holds the lock
      other->Cancel();
      other->Next();
      if (other->AtEnd()) break;
    }
    return true;
  }
  void Idle() { Game->ActionManagerUpdate(); }
  // A pick and a press of Next, as the player does it.
  void Answer(const std::string& letter) {
    Group.Pick(letter);
    Idle();
    ASSERT_TRUE(View.NextEnabled);
    Game->ANextExecute();
    Idle();
  }
  int Order() { return Table->FieldByName("Order").AsInteger(); }

  dbcomp::TComponentLayer Layer;
  testing_support::TTempDir Dir;
  std::unique_ptr<dbcomp::TDataSet> Table;
  dbcomp::TMemoryDataSet* Memory = nullptr;
  int Posts = 0;
  dbcomp::TDataSource Source;
  TAnswerGroup Group{Source};
  TFakeView View{Group};
  std::optional<TQuizGame> Game;
};

INSTANTIATE_TEST_SUITE_P(Tables, QuizGameTest, ::testing::Values(TTableKind::Memory, TTableKind::Real),
                         [](const ::testing::TestParamInfo<TTableKind>& info) {
                           return info.param == TTableKind::Memory ? "InMemory" : "RealTable";
                         });

TEST_P(QuizGameTest, NewGameClearsEveryAnswerAndStandsOnTheFirstQuestion) {
  Load("ABC");
  for (std::size_t row = 0; row < 3; ++row) EXPECT_EQ(StoredAnswer(row), std::nullopt) << row;
  EXPECT_EQ(Order(), 1);
  EXPECT_EQ(Game->RightTotal(), 0);
  EXPECT_EQ(Game->RightFirstTry(), 0);
  EXPECT_FALSE(Game->Missed());
  EXPECT_EQ(Group.ItemIndex(), -1);
  EXPECT_FALSE(View.NextEnabled);  // nothing picked yet: the idle update disabled it
}

TEST_P(QuizGameTest, ThreeRightAnswersAtOnceCountInBothNumbers) {
  Load("ABC");
  Answer("A");
  EXPECT_EQ(Order(), 2);
  EXPECT_FALSE(View.NextEnabled);  // the new question has no answer yet
  Answer("B");
  Answer("C");
  EXPECT_EQ(View.Messages, (std::vector<std::string>{"You have 1 out of 1 right!", "You have 2 out of 2 right!",
                                                     "You have 3 out of 3 right!", YouWin}));
  EXPECT_EQ(View.Sounds, (std::vector<std::string>{Cheers, Cheers, Cheers}));
  EXPECT_EQ(Game->RightFirstTry(), 3);
  EXPECT_EQ(Game->RightTotal(), 3);
  EXPECT_EQ(View.Focused, 3);
}

TEST_P(QuizGameTest, AnyNumberOfWrongPicksOnOneQuestionCountOnce) {
  Load("ABC");
  Answer("A");
  const int posts = Posts;
  Answer("A");
  Answer("C");
  Answer("C");  // the same wrong letter again
  EXPECT_EQ(Order(), 2);  // the table did not move
  EXPECT_EQ(Table->State(), dbcomp::TDataSetState::Edit);
  EXPECT_EQ(Posts, posts);  // nothing posted
  EXPECT_TRUE(Game->Missed());
  EXPECT_TRUE(View.NextEnabled);
  Answer("B");
  EXPECT_FALSE(Game->Missed());
  Answer("C");
  EXPECT_EQ(View.Messages,
            (std::vector<std::string>{"You have 1 out of 1 right!", TryAgain, TryAgain, TryAgain,
                                      "You have 1 out of 2 right!", "You have 2 out of 3 right!", YouWin}));
  EXPECT_EQ(View.Sounds, (std::vector<std::string>{Cheers, Wrong, Wrong, Wrong, Cheers, Cheers}));
}

TEST_P(QuizGameTest, TheComparisonIsCaseSensitive) {
  Load("b");
  Answer("B");
  EXPECT_EQ(View.Messages, (std::vector<std::string>{TryAgain}));
  EXPECT_EQ(Game->RightTotal(), 0);
  EXPECT_TRUE(Game->Missed());
}

TEST_P(QuizGameTest, OneQuestionTableWinsAndKeepsNextDisabledUntilNewGame) {
  Load("C");
  Answer("C");
  EXPECT_EQ(View.Messages, (std::vector<std::string>{"You have 1 out of 1 right!", YouWin}));
  EXPECT_TRUE(Table->AtEnd());
  EXPECT_EQ(Group.Value, "C");  // the selection stays
  EXPECT_FALSE(View.NextEnabled);
  for (int i = 0; i < 3; ++i) Idle();
  EXPECT_TRUE(Game->NextActionEnabled());
  EXPECT_FALSE(View.NextEnabled);  // the action did not change, so the button stays disabled
  Game->NewGame();
  EXPECT_TRUE(View.NextEnabled);
  EXPECT_EQ(StoredAnswer(0), std::nullopt);
  Idle();
  EXPECT_FALSE(View.NextEnabled);  // the answer was cleared
}

TEST_P(QuizGameTest, NewGamePostsAPendingWrongLetterThenClearsEverything) {
  Load("ABC");
  Answer("A");
  Answer("D");  // wrong: pending in the edit of question 2
  ASSERT_TRUE(Game->Missed());
  std::vector<std::string> posted;
  Table->AfterPost = [&](dbcomp::TDataSet& t) {
    posted.push_back(t.FieldByName("Order").AsString() + "=" + t.FieldByName("UserAnswer").AsString());
  };
  Game->NewGame();
  EXPECT_EQ(posted, (std::vector<std::string>{"2=D", "1=", "2=", "3="}));
  for (std::size_t row = 0; row < 3; ++row) EXPECT_EQ(StoredAnswer(row), std::nullopt) << row;
  EXPECT_EQ(Order(), 1);
  EXPECT_EQ(Game->RightTotal(), 0);
  EXPECT_EQ(Game->RightFirstTry(), 0);
  EXPECT_FALSE(Game->Missed());
  EXPECT_TRUE(View.NextEnabled);
  EXPECT_TRUE(NoRecordLocked());
}

TEST_P(QuizGameTest, AnswersAreKeptAfterAGame) {
  Load("DAB");
  Answer("D");
  Answer("C");
  Answer("A");
  Answer("B");
  EXPECT_EQ(StoredAnswer(0), "D");
  EXPECT_EQ(StoredAnswer(1), "A");
  EXPECT_EQ(StoredAnswer(2), "B");
  EXPECT_EQ(Order(), 3);
  EXPECT_EQ(Group.ItemIndex(), 1);  // the last question shows its letter selected
  EXPECT_EQ(Table->State(), dbcomp::TDataSetState::Browse);
}

TEST_P(QuizGameTest, NewGameOnAnEmptyTable) {
  Load("");
  EXPECT_TRUE(Table->AtEnd());
  EXPECT_TRUE(View.NextEnabled == false);
}

TEST_P(QuizGameTest, AMissingWrongSoundSkipsTheRestOfTheHandler) {
  Load("AB");
  View.MissingSounds = {Wrong};
  Group.Pick("C");
  Idle();
  EXPECT_THROW(Game->ANextExecute(), ESoundError);
  EXPECT_TRUE(View.Messages.empty());
  EXPECT_FALSE(Game->Missed());  // the miss is not counted
  EXPECT_EQ(View.Focused, 0);
  // So a right pick afterwards still counts as a first try.
  Answer("A");
  EXPECT_EQ(View.Messages, (std::vector<std::string>{"You have 1 out of 1 right!"}));
}

TEST_P(QuizGameTest, AMissingCheerSoundKeepsTheCountersButDoesNotMove) {
  Load("AB");
  View.MissingSounds = {Cheers};
  Group.Pick("A");
  Idle();
  const int buttonChanges = View.ButtonChanges;
  EXPECT_THROW(Game->ANextExecute(), ESoundError);
  EXPECT_EQ(Game->RightTotal(), 1);
  EXPECT_EQ(Game->RightFirstTry(), 1);
  EXPECT_TRUE(View.Messages.empty());
  EXPECT_EQ(Order(), 1);
  EXPECT_EQ(Table->State(), dbcomp::TDataSetState::Edit);
  EXPECT_EQ(View.ButtonChanges, buttonChanges);
  EXPECT_TRUE(View.NextEnabled);
  // Pressing Next again with the sound back counts the question a second time.
  View.MissingSounds.clear();
  Game->ANextExecute();
  EXPECT_EQ(View.Messages, (std::vector<std::string>{"You have 2 out of 2 right!"}));
}

}  // namespace
}  // namespace vantor
