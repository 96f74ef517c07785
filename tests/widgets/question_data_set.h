#pragma once
// An in-memory question table for the data-aware control tests: the five
// fields of the quiz's table and a few rows.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbcomp/data_source.h"
#include "dbcomp/field_def.h"
#include "dbcomp/memory_data_set.h"

namespace widget_testing {

inline dbcomp::TFieldDefs QuestionFieldDefs() {
  using dbcomp::TFieldType;
  return {
      {.Name = "QuizName", .DataType = TFieldType::String, .Size = 20},
      {.Name = "Order", .DataType = TFieldType::Smallint},
      {.Name = "Question", .DataType = TFieldType::Blob},
      {.Name = "AnswerTx", .DataType = TFieldType::String, .Size = 1},
      {.Name = "UserAnswer", .DataType = TFieldType::String, .Size = 1},
  };
}

struct TRow {
  std::optional<std::string> Question;  // RTF text
  std::string AnswerTx;
  std::optional<std::string> UserAnswer;
};

// A dataset with the rows (not yet open) and a source on it.
struct TQuestionTable {
  explicit TQuestionTable(const std::vector<TRow>& rows)
      : DataSet(std::make_unique<dbcomp::TMemoryDataSet>(QuestionFieldDefs())),
        Source(std::make_unique<dbcomp::TDataSource>(DataSet.get())) {
    DataSet->SetName("Questions");
    int order = 1;
    for (const TRow& r : rows) {
      DataSet->AppendRow({"Test", std::to_string(order++), r.Question, r.AnswerTx, r.UserAnswer});
    }
  }
  std::unique_ptr<dbcomp::TMemoryDataSet> DataSet;
  std::unique_ptr<dbcomp::TDataSource> Source;
};

}  // namespace widget_testing
