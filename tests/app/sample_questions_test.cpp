// The sample questions: their records, their rich text as the question pane
// shows it, and an in-memory question table built from them.
#include "app/questions/sample_questions.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextImageFormat>
#include <set>
#include <string>

#include "app/questions/question_source.h"
#include "dbcomp/data_source.h"
#include "dbcomp/memory_data_set.h"
#include "widgets/db_radio_group.h"
#include "widgets/db_rich_edit.h"
#include "widgets/rtf_reader.h"

namespace {

struct TImageSeen {
  QSize ImageSize;
  double Width = 0;
  double Height = 0;
};

std::vector<TImageSeen> ImagesOf(const QTextDocument& doc) {
  std::vector<TImageSeen> out;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat f = it.fragment().charFormat();
      if (!f.isImageFormat()) continue;
      const QTextImageFormat img = f.toImageFormat();
      const QImage image =
          doc.resource(QTextDocument::ImageResource, QUrl(img.name())).value<QImage>();
      out.push_back({image.size(), img.width(), img.height()});
    }
  }
  return out;
}

TEST(SampleQuestions, RecordsFitTheQuestionTable) {
  const auto questions = vantor::LoadSampleQuestions();
  ASSERT_GE(questions.size(), 12u);
  std::set<std::string> letters;
  int previousOrder = 0;
  for (const auto& q : questions) {
    SCOPED_TRACE(q.Order);
    EXPECT_GT(q.Order, previousOrder);
    previousOrder = q.Order;
    EXPECT_FALSE(q.QuizName.empty());
    EXPECT_LE(q.QuizName.size(), 20u);
    ASSERT_EQ(q.AnswerTx.size(), 1u);
    EXPECT_TRUE(q.AnswerTx >= "A" && q.AnswerTx <= "D");
    letters.insert(q.AnswerTx);
    EXPECT_FALSE(q.UserAnswer.has_value());
    EXPECT_TRUE(widgets::TRtfReader::LooksLikeRtf(q.Question));
  }
  EXPECT_EQ(letters.size(), 4u) << "the right answers use every letter";
}

// Each question reads back with the prompt, one picture of the object at its
// own size, and the four choices, the right one naming the pictured object.
TEST(SampleQuestions, RichTextShowsPromptPictureAndChoices) {
  const auto questions = vantor::LoadSampleQuestions();
  ASSERT_EQ(questions.size(), std::size(vantor::sample::Questions));
  for (std::size_t i = 0; i < questions.size(); ++i) {
    const auto& source = vantor::sample::Questions[i];
    SCOPED_TRACE(source.Picture);
    QTextDocument doc;
    widgets::TRtfReader::Read(questions[i].Question, doc);
    const QString text = doc.toPlainText();
    EXPECT_TRUE(text.contains(vantor::sample::Prompt));
    for (int c = 0; c < 4; ++c) {
      EXPECT_TRUE(text.contains(QString("%1.  %2").arg(QChar('A' + c)).arg(source.Choices[c])));
    }
    const QString right = source.Choices[source.Answer - 'A'];
    EXPECT_EQ(right.toLower(), QString(source.Picture));
    const auto images = ImagesOf(doc);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].ImageSize, QSize(160, 120));
    EXPECT_DOUBLE_EQ(images[0].Width, 160.0);
    EXPECT_DOUBLE_EQ(images[0].Height, 120.0);
  }
}

// The questions as rows of an in-memory table, shown by the question pane and
// the answer group: every question loads, no answer is selected, and the
// first question is rendered beside the test program for a look by eye.
TEST(SampleQuestions, InMemoryTableDrivesThePaneAndTheAnswerGroup) {
  dbcomp::TFieldDefs defs = {
      {.Name = "QuizName", .DataType = dbcomp::TFieldType::String, .Size = 20},
      {.Name = "Order", .DataType = dbcomp::TFieldType::Smallint},
      {.Name = "Question", .DataType = dbcomp::TFieldType::Blob},
      {.Name = "AnswerTx", .DataType = dbcomp::TFieldType::String, .Size = 1},
      {.Name = "UserAnswer", .DataType = dbcomp::TFieldType::String, .Size = 1},
  };
  dbcomp::TMemoryDataSet table(defs);
  for (const auto& q : vantor::LoadSampleQuestions()) table.AppendRow(vantor::RowValues(q));
  dbcomp::TDataSource source(&table);

  QWidget window;
  window.resize(340, 384);
  auto* pane = new widgets::TDBRichEdit(&window);
  pane->setGeometry(8, 7, 323, 370);
  pane->setReadOnly(true);
  pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QObject::connect(pane, &widgets::TDBRichEdit::Change, pane,
                   [pane] { pane->SetDefaultFont("Times New Roman", 14); });
  pane->SetDataSource(&source);
  pane->SetDataField("Question");
  widgets::TDBRadioGroup answer;
  answer.SetItems({"A", "B", "C", "D"});
  answer.SetDataSource(&source);
  answer.SetDataField("UserAnswer");

  table.Open();
  window.show();
  const QImage shot = window.grab().toImage();
  EXPECT_TRUE(
      shot.save(QDir(QCoreApplication::applicationDirPath()).filePath("sample_question.png")));
  int seen = 0;
  while (true) {
    ++seen;
    EXPECT_TRUE(pane->toPlainText().contains(vantor::sample::Prompt)) << seen;
    EXPECT_EQ(answer.ItemIndex(), -1) << seen;
    EXPECT_EQ(pane->DefaultFont().pointSize(), 14);
    table.Next();
    if (table.AtEnd()) break;
  }
  EXPECT_EQ(seen, static_cast<int>(std::size(vantor::sample::Questions)));
}

}  // namespace
