#include "widgets/rtf_writer.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QTextCursor>
#include <QTextDocument>
#include <string>

#include "widgets/rtf_reader.h"
#include "widgets/rtf_test_support.h"

namespace {

using rtf_testing::FormatAt;

std::string AsString(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Writes `doc`, reads the result into `back`, and answers the RTF text.
std::string RoundTrip(const QTextDocument& doc, QTextDocument& back) {
  const std::vector<std::uint8_t> rtf = widgets::TRtfWriter::Write(doc);
  widgets::TRtfReader::Read(rtf, back);
  return AsString(rtf);
}

TEST(RtfWriter, TextWithEveryKindOfCharacterRoundTrips) {
  const QString texts[] = {
      "plain ascii",
      "braces {} and \\ backslash",
      QString::fromUtf8("code page 1252: café – “quoted” €"),
      QString::fromUtf8("outside it: אב ω 😀"),
      QString::fromUtf8("tab\there, nbsp\u00a0here"),
  };
  for (const QString& text : texts) {
    QTextDocument doc;
    doc.setPlainText(text);
    QTextDocument back;
    const std::string rtf = RoundTrip(doc, back);
    EXPECT_EQ(rtf_testing::Text(back), text) << rtf;
    for (unsigned char c : rtf) EXPECT_LT(c, 0x80) << "the output is 7-bit text";
  }
}

TEST(RtfWriter, ParagraphsAndAlignmentRoundTrip) {
  QTextDocument doc;
  QTextCursor c(&doc);
  QTextBlockFormat centred;
  centred.setAlignment(Qt::AlignHCenter);
  c.setBlockFormat(centred);
  c.insertText("title");
  QTextBlockFormat indented;
  indented.setAlignment(Qt::AlignRight);
  indented.setLeftMargin(48);
  indented.setTextIndent(-24);
  c.insertBlock(indented);
  c.insertText("body");
  c.insertBlock(QTextBlockFormat());
  QTextDocument back;
  const std::string rtf = RoundTrip(doc, back);
  EXPECT_EQ(back.toPlainText(), "title\nbody\n") << rtf;
  EXPECT_EQ(back.blockCount(), 3);
  using rtf_testing::BlockAt;
  EXPECT_EQ(BlockAt(back, "title").alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_EQ(BlockAt(back, "body").alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  EXPECT_DOUBLE_EQ(BlockAt(back, "body").leftMargin(), 48.0);
  EXPECT_DOUBLE_EQ(BlockAt(back, "body").textIndent(), -24.0);
}

TEST(RtfWriter, CharacterFormatsRoundTripAndUnsetStaysUnset) {
  QTextDocument doc;
  QTextCursor c(&doc);
  c.insertText("default ");
  QTextCharFormat bold;
  bold.setFontWeight(QFont::Bold);
  c.insertText("bold ", bold);
  QTextCharFormat fancy;
  fancy.setFontItalic(true);
  fancy.setFontUnderline(true);
  fancy.setFontFamilies({"Courier New"});
  fancy.setFontPointSize(18);
  fancy.setForeground(QColor(200, 10, 20));
  c.insertText("fancy ", fancy);
  QTextCharFormat other;
  other.setFontFamilies({"Arial"});
  other.setBackground(QColor(255, 255, 0));
  other.setFontStrikeOut(true);
  c.insertText("other", other);

  QTextDocument back;
  const std::string rtf = RoundTrip(doc, back);
  SCOPED_TRACE(rtf);
  EXPECT_EQ(back.toPlainText(), "default bold fancy other");

  const QTextCharFormat d = FormatAt(back, "default");
  EXPECT_FALSE(d.hasProperty(QTextFormat::FontFamilies));
  EXPECT_FALSE(d.hasProperty(QTextFormat::FontPointSize));
  EXPECT_NE(d.fontWeight(), QFont::Bold);

  EXPECT_EQ(FormatAt(back, "bold").fontWeight(), QFont::Bold);

  const QTextCharFormat f = FormatAt(back, "fancy");
  EXPECT_TRUE(f.fontItalic());
  EXPECT_TRUE(f.fontUnderline());
  EXPECT_EQ(f.fontFamilies().toStringList(), QStringList{"Courier New"});
  EXPECT_DOUBLE_EQ(f.fontPointSize(), 18.0);
  EXPECT_EQ(f.foreground().color(), QColor(200, 10, 20));
  EXPECT_NE(f.fontWeight(), QFont::Bold);

  const QTextCharFormat o = FormatAt(back, "other");
  EXPECT_EQ(o.fontFamilies().toStringList(), QStringList{"Arial"});
  EXPECT_EQ(o.background().color(), QColor(255, 255, 0));
  EXPECT_TRUE(o.fontStrikeOut());
  EXPECT_FALSE(o.fontItalic());
}

TEST(RtfWriter, PicturesRoundTripWithTheirShownSize) {
  QTextDocument doc;
  QImage red(12, 7, QImage::Format_RGB32);
  red.fill(Qt::red);
  doc.addResource(QTextDocument::ImageResource, QUrl("img:red"), red);
  QTextCursor c(&doc);
  c.insertText("before ");
  QTextImageFormat f;
  f.setName("img:red");
  f.setWidth(24);
  f.setHeight(14);
  c.insertImage(f);
  c.insertImage(f);
  c.insertText(" after");

  QTextDocument back;
  const std::string rtf = RoundTrip(doc, back);
  const auto images = rtf_testing::Images(back);
  ASSERT_EQ(images.size(), 2u) << rtf;
  for (const auto& shown : images) {
    EXPECT_EQ(shown.Image.size(), QSize(12, 7));
    EXPECT_EQ(shown.Image.pixelColor(3, 3), QColor(Qt::red));
    EXPECT_DOUBLE_EQ(shown.Width, 24.0);
    EXPECT_DOUBLE_EQ(shown.Height, 14.0);
  }
  EXPECT_TRUE(back.toPlainText().startsWith("before "));
  EXPECT_TRUE(back.toPlainText().endsWith(" after"));
}

TEST(RtfWriter, EmptyDocumentIsValidRtf) {
  QTextDocument doc;
  const std::string rtf = AsString(widgets::TRtfWriter::Write(doc));
  EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
  QTextDocument back;
  back.setPlainText("old");
  widgets::TRtfReader::Read(widgets::TRtfWriter::Write(doc), back);
  EXPECT_TRUE(back.isEmpty());
}

}  // namespace
