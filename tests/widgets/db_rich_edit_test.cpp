#include "widgets/db_rich_edit.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QImage>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>
#include <QSignalSpy>
#include <QTest>
#include <string>
#include <vector>

#include "dbcomp/data_set.h"
#include "widgets/field_link.h"
#include "widgets/question_data_set.h"

namespace {

using widget_testing::TQuestionTable;

const std::string First = R"({\rtf1{\fonttbl{\f0 Arial;}}\b First\b0  question})";
const std::string Second = R"({\rtf1{\fonttbl{\f0 Arial;}}\f0\fs40 Second question})";

class RichEditBound : public ::testing::Test {
 protected:
  RichEditBound()
      : Table({{First, "A", std::nullopt},
               {Second, "B", std::nullopt},
               {std::nullopt, "C", std::nullopt},
               {std::string("plain text, not rich"), "D", std::nullopt}}) {
    Edit.SetDataSource(Table.Source.get());
    Edit.SetDataField("Question");
  }
  dbcomp::TDataSet& Data() { return *Table.DataSet; }

  TQuestionTable Table;
  widgets::TDBRichEdit Edit;
};

TEST_F(RichEditBound, EveryRecordChangeLoadsTheBlobAndSignalsOnce) {
  EXPECT_TRUE(Edit.document()->isEmpty());
  QSignalSpy changes(&Edit, &widgets::TDBRichEdit::Change);
  Data().Open();
  EXPECT_EQ(Edit.toPlainText(), "First question");
  changes.clear();
  const char* expected[] = {"Second question", "", "plain text, not rich"};
  for (const char* text : expected) {
    SCOPED_TRACE(text);
    Data().Next();
    EXPECT_EQ(Edit.toPlainText(), text);
    EXPECT_EQ(changes.count(), 1);
    changes.clear();
  }
  Data().Close();
  EXPECT_TRUE(Edit.document()->isEmpty());
  EXPECT_EQ(changes.count(), 1);
}

// The question pane's rule: after every change of content the default format
// is set again, whatever it was before.
TEST_F(RichEditBound, ChangeHandlerKeepsTheDefaultFormat) {
  QObject::connect(&Edit, &widgets::TDBRichEdit::Change, &Edit,
                   [this] { Edit.SetDefaultFont("Times New Roman", 14); });
  Data().Open();
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Edit.DefaultFont().family(), "Times New Roman");
    EXPECT_EQ(Edit.DefaultFont().pointSize(), 14);
    QFont other("Arial");
    other.setPointSize(30);
    Edit.document()->setDefaultFont(other);  // disturbed between questions
    if (i < 3) Data().Next();
  }
  Data().First();
  EXPECT_EQ(Edit.DefaultFont().family(), "Times New Roman");
  EXPECT_EQ(Edit.DefaultFont().pointSize(), 14);
}

TEST(RichEdit, DefaultFontFallsBackToASerifOfTheSameSize) {
  widgets::TDBRichEdit edit;
  edit.SetDefaultFont("Times New Roman", 14);
  const QFontInfo shown(edit.DefaultFont());
  EXPECT_EQ(shown.pointSize(), 14);
  EXPECT_TRUE(shown.family() == "Times New Roman" || shown.family().contains("Serif"))
      << shown.family().toStdString();
  // A family nobody has still comes out serif.
  edit.SetDefaultFont("No Such Family Anywhere", 14);
  const QFontInfo fallback(edit.DefaultFont());
  EXPECT_EQ(fallback.pointSize(), 14);
  EXPECT_TRUE(fallback.family().contains("Serif")) << fallback.family().toStdString();
}

TEST_F(RichEditBound, TextWithoutItsOwnSizeTakesTheDefaultFormat) {
  Data().Open();
  Edit.SetDefaultFont("Times New Roman", 14);
  QTextCursor c(Edit.document());
  c.setPosition(1);
  EXPECT_FALSE(c.charFormat().hasProperty(QTextFormat::FontPointSize));
  Data().Next();  // "\fs40": the text sets its own size
  c = QTextCursor(Edit.document());
  c.setPosition(1);
  EXPECT_DOUBLE_EQ(c.charFormat().fontPointSize(), 20.0);
}

TEST_F(RichEditBound, ReadOnlyPaneNeverEditsTheDataset) {
  Edit.setReadOnly(true);
  Data().Open();
  Edit.setFocus();
  QTest::keyClicks(&Edit, "xyz");
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Browse);
  EXPECT_EQ(Edit.toPlainText(), "First question");
}

TEST_F(RichEditBound, TypingEditsAndThePostStoresRichText) {
  Data().Open();
  Data().Next();
  Data().Next();  // the null question
  QTest::keyClicks(&Edit, "Which one?");
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Edit);
  EXPECT_TRUE(Edit.DataLink().IsModified());
  Data().Post();
  const std::optional<std::string> stored = Table.DataSet->RowValue(2, "Question");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->rfind("{\\rtf1", 0), 0u);
  Data().First();
  Data().Next();
  Data().Next();
  EXPECT_EQ(Edit.toPlainText(), "Which one?");
}

TEST_F(RichEditBound, KeysAreRefusedWhenTheDatasetCannotEdit) {
  Table.DataSet->SetReadOnly(true);
  Data().Open();
  QTest::keyClicks(&Edit, "abc");
  EXPECT_EQ(Edit.toPlainText(), "First question");
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Browse);
}

TEST_F(RichEditBound, DatasetDestroyedBeforeTheControl) {
  Data().Open();
  Table.DataSet.reset();
  EXPECT_TRUE(Edit.document()->isEmpty());
  Table.Source.reset();
  QTest::keyClicks(&Edit, "still usable");
  EXPECT_EQ(Edit.toPlainText(), "still usable");
}

}  // namespace

namespace {

// The document's pictures in order: their names and sizes.
std::vector<QTextImageFormat> Pictures(const QTextDocument& doc) {
  std::vector<QTextImageFormat> out;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it)
      if (it.fragment().charFormat().isImageFormat())
        out.push_back(it.fragment().charFormat().toImageFormat());
  return out;
}

}  // namespace

TEST_F(RichEditBound, PicturesAndFormattingEditTheRecordAndReachTheBlob) {
  Data().Open();
  QTextCursor all(Edit.document());
  all.select(QTextCursor::Document);
  Edit.setTextCursor(all);
  QTextCharFormat italic;
  italic.setFontItalic(true);
  ASSERT_TRUE(Edit.MergeFormat(italic));
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Edit);
  EXPECT_TRUE(Edit.DataLink().IsModified());
  // The selection survived the reload that entering edit mode does.
  EXPECT_EQ(Edit.textCursor().selectedText(), "First question");

  QTextCursor end(Edit.document());
  end.movePosition(QTextCursor::End);
  Edit.setTextCursor(end);
  QImage red(40, 20, QImage::Format_RGB32);
  red.fill(Qt::red);
  ASSERT_TRUE(Edit.InsertPicture(red, 30));  // scaled down to 30 x 15
  ASSERT_TRUE(Edit.InsertPicture(red));      // no limit: 40 x 20
  Data().Post();

  const std::string stored = Table.DataSet->RowValue(0, "Question").value_or("");
  EXPECT_NE(stored.find("\\pict\\pngblip"), std::string::npos) << stored;
  Data().Next();
  Data().First();
  EXPECT_EQ(Edit.toPlainText().left(14), "First question");
  QTextCursor c(Edit.document());
  c.setPosition(2);
  EXPECT_TRUE(c.charFormat().fontItalic());
  const std::vector<QTextImageFormat> pictures = Pictures(*Edit.document());
  ASSERT_EQ(pictures.size(), 2u);
  EXPECT_DOUBLE_EQ(pictures[0].width(), 30.0);
  EXPECT_DOUBLE_EQ(pictures[0].height(), 15.0);
  EXPECT_DOUBLE_EQ(pictures[1].width(), 40.0);
  const QImage shown =
      Edit.document()->resource(QTextDocument::ImageResource, QUrl(pictures[0].name())).value<QImage>();
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(shown.pixelColor(5, 5), QColor(Qt::red));
}

TEST_F(RichEditBound, PicturesAndFormattingAreRefusedWhenTheDatasetCannotEdit) {
  Table.DataSet->SetReadOnly(true);
  Data().Open();
  QImage image(8, 8, QImage::Format_RGB32);
  image.fill(Qt::blue);
  EXPECT_FALSE(Edit.InsertPicture(image));
  QTextCharFormat bold;
  bold.setFontWeight(QFont::Bold);
  EXPECT_FALSE(Edit.MergeFormat(bold));
  EXPECT_EQ(Edit.toPlainText(), "First question");
  EXPECT_TRUE(Pictures(*Edit.document()).empty());
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Browse);
}

// Entering edit mode reads the record again; the first key still lands where
// the cursor was, not at the start of the reloaded text.
TEST_F(RichEditBound, TheFirstKeyTypesWhereTheCursorIs) {
  Data().Open();
  QTextCursor c(Edit.document());
  c.setPosition(5);
  Edit.setTextCursor(c);
  QTest::keyClicks(&Edit, "!");
  EXPECT_EQ(Edit.toPlainText(), "First! question");
}
