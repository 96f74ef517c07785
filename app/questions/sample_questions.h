#pragma once

// The sample questions as records of the question table: what a test puts
// into an in-memory dataset, and what the table maker writes into the real
// table "velmorn2". Plain C++; no Qt, no component layer.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

namespace sample {
struct TQuestionSource;
}

// One record of the question table.
struct TSampleQuestion {
  std::string QuizName;                   // "QuizName", string of 20
  std::int16_t Order = 0;                 // "Order", 16-bit integer
  std::vector<std::uint8_t> Question;     // "Question", rich text (RTF) with the picture
  std::string AnswerTx;                   // "AnswerTx", string of 1: "A".."D"
  std::optional<std::string> UserAnswer;  // "UserAnswer", string of 1; null
};

// The table's field names, in the order RowValues gives the values.
inline constexpr std::array<const char*, 5> SampleQuestionFields = {"QuizName", "Order", "Question",
                                                                    "AnswerTx", "UserAnswer"};

// Every sample question, in ascending Order.
std::vector<TSampleQuestion> LoadSampleQuestions();

// The rich text of one question: a heading, the prompt, the picture (PNG,
// embedded as \pict\pngblip hex data) and the four choices. The body text
// names no font or size, so the question pane's default format applies.
std::vector<std::uint8_t> QuestionRtf(const sample::TQuestionSource& source,
                                      const unsigned char* png, std::size_t pngSize);

// The values of a record as texts in SampleQuestionFields order (the blob as
// its bytes in a string; nullopt for null): the row form of an in-memory
// dataset.
std::vector<std::optional<std::string>> RowValues(const TSampleQuestion& question);

}  // namespace vantor
