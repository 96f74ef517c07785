#pragma once

// Writes question records into a real Tarn table "velmorn2": what the build
// runs to make the bundled question table, and what tests use to play on a
// table of their own. Plain engine calls; no Qt, no component layer.
//
// The table: "QuizName" (string 20), "Order" (16-bit integer), "Question"
// (blob, rich text), "AnswerTx" (string 1), "UserAnswer" (string 1); primary
// index on QuizName;Order; encrypted with the password when one is given.

#include <string>
#include <string_view>
#include <vector>

#include "app/questions/sample_questions.h"

namespace vantor {

inline constexpr std::string_view QuestionTableFileName = "velmorn2";

// Creates the table in directory (replacing one that is there) and stores the
// questions in it. Raises tarn::ETarnEngineError when the engine fails.
void WriteQuestionTable(const std::string& directory, const std::vector<TSampleQuestion>& questions,
                        std::string_view password);

}  // namespace vantor
