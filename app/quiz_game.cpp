#include "app/quiz_game.h"

#include "app/dialogs.h"
#include "app/paths.h"
#include "dbcomp/data_set.h"

namespace vantor {

TQuizGame::TQuizGame(dbcomp::TDataSet& table, TQuizView& view) : FTable(table), FView(view) {}

void TQuizGame::NewGame() {
  FTable.First();  // posts a pending edit first
  while (!FTable.AtEnd()) {
    FTable.Edit();
    FTable.FieldByName("UserAnswer").Clear();
    FTable.Post();
    FTable.Next();
  }
  FTable.First();
  FRightTotal = 0;
  FRightFirstTry = 0;
  FMissed = false;
  FView.SetNextButtonEnabled(true);
}

void TQuizGame::PlaySound(std::string_view name) { FView.PlaySound(ExePath(name)); }

void TQuizGame::ANextExecute() {
  const std::string right = FTable.FieldByName("AnswerTx").AsString();
  if (right != FView.AnswerValue()) {
    PlaySound(WrongSound);
    FView.ShowInfo(std::string(GameMsg::TryAgain));
    FMissed = true;
  } else {
    ++FRightTotal;
    if (!FMissed) ++FRightFirstTry;
    PlaySound(RightSound);
    FView.ShowInfo(FormatText(GameMsg::Score, {FRightFirstTry, FRightTotal}));
    FTable.Next();  // posts the pending edit
    if (FTable.AtEnd()) FView.ShowInfo(std::string(GameMsg::YouWin));
    FMissed = false;
    FView.SetNextButtonEnabled(false);
  }
  FView.FocusAnswer();
}

bool TQuizGame::ActionManagerUpdate() {
  const bool enabled = FView.AnswerItemIndex() != -1;
  if (enabled != FActionEnabled) {
    FActionEnabled = enabled;
    FView.SetNextButtonEnabled(enabled);
  }
  return true;
}

}  // namespace vantor
