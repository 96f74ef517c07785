#pragma once
// The rules of the quiz, apart from any window.
//
// The game walks the question table from its first to its last record. The
// player's answer is the value of the answer control (bound to "UserAnswer");
// a right answer is counted and the table moves on, a wrong one is counted as
// a miss of the current question. The window supplies the view: the answer
// control's state, the sounds, the messages, the Next button and the focus.
//
// State: FRightTotal (questions answered right in this game), FRightFirstTry
// (of those, answered without a wrong pick before), FMissed (the current
// question had a wrong pick), and the Next action's enabled state, which is
// passed on to the Next button only when it changes. NewGame and a right
// pick set the button directly.
//
// User-interface thread only. Exceptions (a sound that cannot play, a table
// error) leave the handlers at the point where they arose.

#include <cstdint>
#include <string>
#include <string_view>

namespace dbcomp {
class TDataSet;
}

namespace vantor {

// Messages of the game.
namespace GameMsg {
inline constexpr std::string_view TryAgain = "Try Again!";
inline constexpr std::string_view Score = "You have %d out of %d right!";
inline constexpr std::string_view YouWin = "You win! Select File | New Game or press F2 to play again!";
}  // namespace GameMsg

// Sound files, looked up in the program directory.
inline constexpr std::string_view RightSound = "CrowdCheers.wav";
inline constexpr std::string_view WrongSound = "wrong answer.wav";

class TQuizView {
 public:
  virtual ~TQuizView() = default;
  // The answer control's value ("" when nothing is selected) and item index
  // (-1 when nothing is selected).
  virtual std::string AnswerValue() const = 0;
  virtual int AnswerItemIndex() const = 0;
  // Plays a wave file without waiting; raises when it cannot be played.
  virtual void PlaySound(const std::string& fileName) = 0;
  // Shows a message to the player (modal; returns when it is closed).
  virtual void ShowInfo(const std::string& message) = 0;
  virtual void SetNextButtonEnabled(bool enabled) = 0;
  virtual void FocusAnswer() = 0;
};

class TQuizGame {
 public:
  TQuizGame(dbcomp::TDataSet& table, TQuizView& view);

  // Clears every stored answer, stands on the first question, resets the
  // counters and enables the Next button.
  void NewGame();
  // Checks the answer control's value against the question's "AnswerTx".
  void ANextExecute();
  // On idle: the Next action is enabled exactly when an answer is selected;
  // a change is passed on to the button. Answers that the update was handled.
  bool ActionManagerUpdate();

  std::int32_t RightTotal() const noexcept { return FRightTotal; }
  std::int32_t RightFirstTry() const noexcept { return FRightFirstTry; }
  bool Missed() const noexcept { return FMissed; }
  bool NextActionEnabled() const noexcept { return FActionEnabled; }

 private:
  void PlaySound(std::string_view name);
  dbcomp::TDataSet& FTable;
  TQuizView& FView;
  std::int32_t FRightTotal = 0;
  std::int32_t FRightFirstTry = 0;
  bool FMissed = false;
  bool FActionEnabled = true;
};

}  // namespace vantor
