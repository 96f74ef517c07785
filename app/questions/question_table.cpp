#include "app/questions/question_table.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "engine/base/byte_order.h"
#include "engine/cursor/data_cursor.h"
#include "engine/index/keys.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_desc.h"
#include "engine/table/field_types.h"

namespace vantor {

namespace {

enum : int { QuizNameField = 1, OrderField, QuestionField, AnswerTxField, UserAnswerField };

std::span<const std::uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

tarn::TTableDefinition QuestionTableDefinition(std::string_view password) {
  using tarn::FieldType::Blob;
  using tarn::FieldType::Int16;
  using tarn::FieldType::String;
  tarn::TTableDefinition def;
  def.Fields.push_back(tarn::MakeFieldDesc(QuizNameField, "QuizName", String, 0, 20));
  def.Fields.push_back(tarn::MakeFieldDesc(OrderField, "Order", Int16));
  def.Fields.push_back(tarn::MakeFieldDesc(QuestionField, "Question", Blob));
  def.Fields.push_back(tarn::MakeFieldDesc(AnswerTxField, "AnswerTx", String, 0, 1));
  def.Fields.push_back(tarn::MakeFieldDesc(UserAnswerField, "UserAnswer", String, 0, 1));
  tarn::AssignFieldOffsets(def.Fields);
  // The primary index: the quiz, then the question's order in it.
  tarn::TIndexDescriptor& primary = def.Primary;
  primary.Unique = true;
  primary.FieldCount = 2;
  primary.FieldNumbers[0] = QuizNameField;
  primary.FieldNumbers[1] = OrderField;
  primary.KeySize = static_cast<std::int16_t>(tarn::KeyFieldSize(String, 20) + 1 + tarn::KeyFieldSize(Int16, 0) + 1);
  if (!password.empty()) {
    def.Encrypted = true;
    def.Password = std::string(password);
  }
  def.Description = "Vantor questions";
  return def;
}

}  // namespace

void WriteQuestionTable(const std::string& directory, const std::vector<TSampleQuestion>& questions,
                        std::string_view password) {
  tarn::TDataSession engine;
  if (!password.empty()) engine.AddPassword(password);
  tarn::TDataDirectory& dir = engine.OpenDirectory("", directory);
  const std::string name(QuestionTableFileName);
  if (dir.TableExists(name, false)) dir.DeleteTable(name, false);
  dir.ReleaseTable(dir.CreateTable(name, false, false, QuestionTableDefinition(password)), false);

  tarn::TDataCursor cursor(dir);
  cursor.SetTableName(name);
  cursor.SetExclusive(true);
  cursor.OpenCursor();
  std::vector<std::uint8_t> record(cursor.RecordSize());
  for (const TSampleQuestion& q : questions) {
    cursor.InitRecord(record);
    cursor.PutField(QuizNameField, record, Bytes(q.QuizName));
    std::array<std::uint8_t, 2> order{};
    tarn::PutLE16(order, 0, static_cast<std::uint16_t>(q.Order));
    cursor.PutField(OrderField, record, std::span<const std::uint8_t>(order));
    cursor.PutField(AnswerTxField, record, Bytes(q.AnswerTx));
    cursor.PutField(UserAnswerField, record,
                    q.UserAnswer ? std::optional(Bytes(*q.UserAnswer)) : std::nullopt);
    std::uint32_t size = 0;
    cursor.RaiseIfError(cursor.OpenBlob(QuestionField, record, tarn::TDataCursor::TBlobMode::Write, size));
    cursor.RaiseIfError(cursor.TruncateBlob(QuestionField, record, 0));
    if (!q.Question.empty()) cursor.RaiseIfError(cursor.WriteBlob(QuestionField, record, 0, q.Question));
    cursor.RaiseIfError(cursor.CloseBlob(QuestionField, record));
    cursor.InsertRecord(record, false);
  }
  cursor.CloseCursor();
  engine.CloseDirectory(dir);
}

}  // namespace vantor
