#include "widgets/rtf_reader.h"

#include <ostream>
#include <gtest/gtest.h>

#include <QFont>
#include <QTextDocument>
#include <functional>
#include <string>

#include "widgets/rtf_test_support.h"

namespace {

using rtf_testing::Bytes;
using rtf_testing::FormatAt;

QString ReadText(const std::string& rtf, QTextDocument& doc) {
  widgets::TRtfReader::Read(Bytes(rtf), doc);
  return rtf_testing::Text(doc);
}

// Documents and the plain text they must show: escapes, destinations,
// paragraphs and malformed input.
struct TTextCase {
  const char* Name;
  std::string Rtf;
  QString Expected;
};

// Names the case in test listings (instead of a dump of its bytes).
void PrintTo(const TTextCase& c, std::ostream* os) { *os << c.Name; }


class RtfReaderText : public ::testing::TestWithParam<TTextCase> {};

TEST_P(RtfReaderText, ShowsTheExpectedText) {
  QTextDocument doc;
  EXPECT_EQ(ReadText(GetParam().Rtf, doc), GetParam().Expected) << GetParam().Rtf;
}

const TTextCase TextCases[] = {
    {"Minimal", R"({\rtf1 Hello})", "Hello"},
    {"ParagraphsAndLine", R"({\rtf1 one\par two\line three\par})", "one\ntwo\u2028three\n"},
    {"ControlSpaceIsEaten", R"({\rtf1\b bold\b0  text})", "bold text"},
    {"EscapedSpecials", R"({\rtf1 a\\b\{c\}d})", "a\\b{c}d"},
    {"HexEscapesInCodePage1252", R"({\rtf1\ansi caf\'e9 \'80 \'93q\'94})",
     QString::fromUtf8("café € “q”")},
    {"BadHexIsDropped", R"({\rtf1 a\'zzb})", "azzb"},
    {"UnicodeSkipsOneFallback", R"({\rtf1 x\u8364?y})", QString::fromUtf8("x€y")},
    {"UnicodeNegativeValue", R"({\rtf1 \u-3913?})", QString(QChar(char16_t(0xF0B7)))},
    {"UcTwoSkipsTwoFallbacks", R"({\rtf1\uc2 \u1488\'e0\'e0z})", QString::fromUtf8("אz")},
    {"UcZeroSkipsNothing", R"({\rtf1\uc0 \u1488 z})", QString::fromUtf8("אz")},
    {"FallbackHexCountsAsOne", R"({\rtf1 \u233\'e9x})", QString::fromUtf8("éx")},
    {"SurrogatePair", R"({\rtf1 \u-10179?\u-8704?})", QString::fromUtf8("😀")},
    {"UcIsScopedToTheGroup", R"({\rtf1 {\uc3 \u65 abcd}\u66 ?e})", "AdBe"},
    {"NamedCharacters", R"({\rtf1 \lquote a\rquote \emdash \endash \bullet \~\tab.})",
     QString::fromUtf8("‘a’—–•\u00a0\t.")},
    {"FontAndColourTablesShowNothing",
     R"({\rtf1{\fonttbl{\f0\fswiss Arial;}{\f1 Times New Roman;}}{\colortbl;\red255\green0\blue0;}Text})",
     "Text"},
    {"StarredUnknownDestinationSkipped", R"({\rtf1 a{\*\unknownthing hidden {nested}}b})", "ab"},
    {"KnownDestinationsSkipped",
     R"({\rtf1{\info{\title T}{\author A}}{\stylesheet{\s0 Normal;}}{\header H}body})", "body"},
    {"UnknownWordsIgnored", R"({\rtf1\viewkind4\paperw12240\nosuchword text})", "text"},
    {"FieldResultShown", R"({\rtf1{\field{\*\fldinst HYPERLINK "x"}{\fldrslt link}}.})", "link."},
    {"NonShpPictSkipped", R"({\rtf1 a{\nonshppict{\pict\wmetafile8 0102}}b})", "ab"},
    {"BinarySkippedInSkippedGroup", std::string(R"({\rtf1 a{\*\blob\bin3 )") + "{}}" + "}b}", "ab"},
    {"TextAfterTheDocumentEndIgnored", R"({\rtf1 a}}b{\rtf1 c})", "a"},
    {"MissingClosingBraces", R"({\rtf1 open{\b bold)", "openbold"},
    {"TrailingBackslash", "{\\rtf1 end\\", "end"},
    {"CrLfInSourceIgnored", "{\\rtf1 one\r\ntwo\n}", "onetwo"},
    {"EscapedNewlineIsParagraph", "{\\rtf1 one\\\ntwo}", "one\ntwo"},
    {"NotRtfIsPlainText", "plain \xe9t\xe9\r\nline 2", QString::fromUtf8("plain été\nline 2")},
    {"EmptyInput", "", ""},
    {"HugeParameterClamped", R"({\rtf1\fs99999999999999999 big})", "big"},
};

INSTANTIATE_TEST_SUITE_P(Documents, RtfReaderText, ::testing::ValuesIn(TextCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Documents, a probe text, and what its character format must be.
struct TFormatCase {
  const char* Name;
  std::string Rtf;
  QString Probe;
  std::function<void(const QTextCharFormat&)> Check;
};

// Names the case in test listings (instead of a dump of its bytes).
void PrintTo(const TFormatCase& c, std::ostream* os) { *os << c.Name; }


class RtfReaderFormat : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(RtfReaderFormat, RunHasTheExpectedFormat) {
  QTextDocument doc;
  widgets::TRtfReader::Read(Bytes(GetParam().Rtf), doc);
  SCOPED_TRACE(GetParam().Rtf);
  ASSERT_FALSE(doc.find(GetParam().Probe).isNull()) << doc.toPlainText().toStdString();
  GetParam().Check(FormatAt(doc, GetParam().Probe));
}

const char* const Tables =
    R"({\fonttbl{\f0\froman Times New Roman;}{\f1\fswiss\fcharset0 Arial;}{\f2 Courier New;}})"
    R"({\colortbl;\red255\green0\blue0;\red0\green0\blue255;})";

std::string Doc(const std::string& body) {
  return std::string("{\\rtf1\\ansi") + Tables + body + "}";
}

const TFormatCase FormatCases[] = {
    {"Bold", Doc(R"(plain \b bold\b0  after)"), "bold",
     [](const QTextCharFormat& f) { EXPECT_EQ(f.fontWeight(), QFont::Bold); }},
    {"BoldOffAgain", Doc(R"(\b bold\b0  after)"), "after",
     [](const QTextCharFormat& f) { EXPECT_NE(f.fontWeight(), QFont::Bold); }},
    {"ItalicUnderlineStrike", Doc(R"(\i\ul\strike all\i0\ulnone\strike0  none)"), "all",
     [](const QTextCharFormat& f) {
       EXPECT_TRUE(f.fontItalic());
       EXPECT_TRUE(f.fontUnderline());
       EXPECT_TRUE(f.fontStrikeOut());
     }},
    {"UlnoneEndsUnderline", Doc(R"(\ul u\ulnone  none)"), "none",
     [](const QTextCharFormat& f) { EXPECT_FALSE(f.fontUnderline()); }},
    {"GroupRestoresState", Doc(R"({\b\i inner} outer)"), "outer",
     [](const QTextCharFormat& f) {
       EXPECT_NE(f.fontWeight(), QFont::Bold);
       EXPECT_FALSE(f.fontItalic());
     }},
    {"FontFromTable", Doc(R"(\f1 arial \f2 courier)"), "arial",
     [](const QTextCharFormat& f) {
       EXPECT_EQ(f.fontFamilies().toStringList(), QStringList{"Arial"});
     }},
    {"FontTableWithoutInnerGroups", R"({\rtf1{\fonttbl\f0 Georgia;\f3 Verdana;}\f3 v})", "v",
     [](const QTextCharFormat& f) {
       EXPECT_EQ(f.fontFamilies().toStringList(), QStringList{"Verdana"});
     }},
    {"UnknownFontNumberLeavesFamilyUnset", Doc(R"(\f9 x)"), "x",
     [](const QTextCharFormat& f) { EXPECT_FALSE(f.hasProperty(QTextFormat::FontFamilies)); }},
    {"SizeInHalfPoints", Doc(R"(\fs36 big)"), "big",
     [](const QTextCharFormat& f) { EXPECT_DOUBLE_EQ(f.fontPointSize(), 18.0); }},
    {"NoFontOrSizeLeavesDefault", Doc(R"(bare)"), "bare",
     [](const QTextCharFormat& f) {
       EXPECT_FALSE(f.hasProperty(QTextFormat::FontFamilies));
       EXPECT_FALSE(f.hasProperty(QTextFormat::FontPointSize));
     }},
    {"PlainResets", Doc(R"(\b\i\fs40\f1\cf1 x\plain  y)"), "y",
     [](const QTextCharFormat& f) {
       EXPECT_NE(f.fontWeight(), QFont::Bold);
       EXPECT_FALSE(f.fontItalic());
       EXPECT_FALSE(f.hasProperty(QTextFormat::FontPointSize));
       EXPECT_FALSE(f.hasProperty(QTextFormat::ForegroundBrush));
     }},
    {"ForegroundColour", Doc(R"(\cf2 blue)"), "blue",
     [](const QTextCharFormat& f) { EXPECT_EQ(f.foreground().color(), QColor(0, 0, 255)); }},
    {"AutoColourIsDefault", Doc(R"(\cf0 auto)"), "auto",
     [](const QTextCharFormat& f) { EXPECT_FALSE(f.hasProperty(QTextFormat::ForegroundBrush)); }},
    {"ColourOutOfTable", Doc(R"(\cf7 out)"), "out",
     [](const QTextCharFormat& f) { EXPECT_FALSE(f.hasProperty(QTextFormat::ForegroundBrush)); }},
    {"Highlight", Doc(R"(\highlight1 marked)"), "marked",
     [](const QTextCharFormat& f) { EXPECT_EQ(f.background().color(), QColor(255, 0, 0)); }},
    {"Superscript", Doc(R"(x\super 2\nosupersub  y)"), "2",
     [](const QTextCharFormat& f) {
       EXPECT_EQ(f.verticalAlignment(), QTextCharFormat::AlignSuperScript);
     }},
};

INSTANTIATE_TEST_SUITE_P(Documents, RtfReaderFormat, ::testing::ValuesIn(FormatCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(RtfReader, ParagraphAlignmentAndIndents) {
  QTextDocument doc;
  widgets::TRtfReader::Read(
      Bytes(R"({\rtf1\qc centred\par right side\qr\par\pard left\par\qj\li720\fi-360\sb120 just})"),
      doc);
  using rtf_testing::BlockAt;
  EXPECT_EQ(BlockAt(doc, "centred").alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  // The paragraph's properties are those in force at its \par.
  EXPECT_EQ(BlockAt(doc, "right side").alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  EXPECT_EQ(BlockAt(doc, "left").alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
  const QTextBlockFormat last = BlockAt(doc, "just");
  EXPECT_EQ(last.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignJustify);
  EXPECT_DOUBLE_EQ(last.leftMargin(), 48.0);
  EXPECT_DOUBLE_EQ(last.textIndent(), -24.0);
  EXPECT_DOUBLE_EQ(last.topMargin(), 8.0);
}

struct TPictureCase {
  const char* Name;
  std::string Rtf;
  int Count;
  double Width;  // shown size of the first picture
  double Height;
};

// Names the case in test listings (instead of a dump of its bytes).
void PrintTo(const TPictureCase& c, std::ostream* os) { *os << c.Name; }


class RtfReaderPicture : public ::testing::TestWithParam<TPictureCase> {};

TEST_P(RtfReaderPicture, PicturesAreEmbedded) {
  QTextDocument doc;
  widgets::TRtfReader::Read(Bytes(GetParam().Rtf), doc);
  const auto images = rtf_testing::Images(doc);
  ASSERT_EQ(static_cast<int>(images.size()), GetParam().Count);
  if (GetParam().Count == 0) return;
  EXPECT_FALSE(images[0].Image.isNull());
  EXPECT_DOUBLE_EQ(images[0].Width, GetParam().Width);
  EXPECT_DOUBLE_EQ(images[0].Height, GetParam().Height);
}

const std::string Png = rtf_testing::PictureHex(20, 10, Qt::red);
const std::string Jpeg = rtf_testing::PictureHex(8, 6, Qt::blue, "JPEG");

const TPictureCase PictureCases[] = {
    {"PngOwnSize", "{\\rtf1 a{\\pict\\pngblip\\picw20\\pich10 " + Png + "}b}", 1, 20, 10},
    {"PngGoalSizeInTwips", "{\\rtf1{\\pict\\pngblip\\picwgoal600\\pichgoal300\n" + Png + "}}", 1,
     40, 20},
    {"PngScaled", "{\\rtf1{\\pict\\pngblip\\picscalex50\\picscaley200 " + Png + "}}", 1, 10, 20},
    {"JpegOwnSize", "{\\rtf1{\\pict\\jpegblip " + Jpeg + "}}", 1, 8, 6},
    {"InsideShpPict",
     "{\\rtf1{\\*\\shppict{\\pict\\pngblip " + Png + "}}{\\nonshppict{\\pict\\wmetafile8 00}}}", 1,
     20, 10},
    {"HexSplitOverLines",
     "{\\rtf1{\\pict\\pngblip " + Png.substr(0, 11) + "\r\n " + Png.substr(11) + "}}", 1, 20, 10},
    {"BinaryData",
     [] {
       QByteArray raw = QByteArray::fromHex(QByteArray::fromStdString(Png));
       return "{\\rtf1{\\pict\\pngblip\\bin" + std::to_string(raw.size()) + " " +
              raw.toStdString() + "}}";
     }(),
     1, 20, 10},
    {"TwoPictures", "{\\rtf1{\\pict\\pngblip " + Png + "}{\\pict\\pngblip " + Png + "}}", 2, 20,
     10},
    {"MetafileSkipped", "{\\rtf1{\\pict\\wmetafile8\\picw20\\pich10 0102030405}}", 0, 0, 0},
    {"CorruptPngDropped", "{\\rtf1{\\pict\\pngblip " + Png.substr(0, 40) + "}}", 0, 0, 0},
    {"UnclosedPictureStillEnds", "{\\rtf1{\\pict\\pngblip " + Png, 1, 20, 10},
    {"PictureInSkippedGroup", "{\\rtf1{\\*\\foo{\\pict\\pngblip " + Png + "}}}", 0, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Documents, RtfReaderPicture, ::testing::ValuesIn(PictureCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(RtfReader, PictureTextDoesNotLeakIntoTheText) {
  QTextDocument doc;
  widgets::TRtfReader::Read(Bytes("{\\rtf1 a{\\pict\\pngblip " + Png + "}b}"), doc);
  EXPECT_EQ(doc.toPlainText(), QString("a") + QChar(QChar::ObjectReplacementCharacter) + "b");
}

TEST(RtfReader, DeepNestingIsSkippedNotFatal) {
  std::string rtf = "{\\rtf1 top";
  for (int i = 0; i < 5000; ++i) rtf += "{\\b";
  rtf += " deep";
  for (int i = 0; i < 5000; ++i) rtf += "}";
  rtf += " tail}";
  QTextDocument doc;
  widgets::TRtfReader::Read(Bytes(rtf), doc);
  const QString text = doc.toPlainText();
  EXPECT_TRUE(text.startsWith("top"));
  EXPECT_TRUE(text.endsWith(" tail"));
  EXPECT_FALSE(text.contains("deep"));
}

TEST(RtfReader, ReadingReplacesTheOldContentAndPictures) {
  QTextDocument doc;
  widgets::TRtfReader::Read(Bytes("{\\rtf1 first{\\pict\\pngblip " + Png + "}}"), doc);
  widgets::TRtfReader::Read(Bytes("{\\rtf1 second}"), doc);
  EXPECT_EQ(doc.toPlainText(), "second");
  EXPECT_TRUE(rtf_testing::Images(doc).empty());
}

TEST(RtfReader, LooksLikeRtf) {
  EXPECT_TRUE(widgets::TRtfReader::LooksLikeRtf(Bytes("{\\rtf1 x}")));
  EXPECT_TRUE(widgets::TRtfReader::LooksLikeRtf(Bytes("\r\n {\\rtf")));
  EXPECT_FALSE(widgets::TRtfReader::LooksLikeRtf(Bytes("{\\rt")));
  EXPECT_FALSE(widgets::TRtfReader::LooksLikeRtf(Bytes("hello")));
  EXPECT_FALSE(widgets::TRtfReader::LooksLikeRtf(Bytes("")));
}

}  // namespace

namespace {

// Damaged documents: truncated at every length and with bytes overwritten,
// the reader ends normally (the sanitizer build checks it reads nothing out
// of bounds).
TEST(RtfReader, DamagedDocumentsNeverFail) {
  const std::string good =
      "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red1\\green2\\blue3;}"
      "\\qc\\f0\\fs28\\cf1 T\\'e9xt \\u8364?{\\pict\\pngblip\\picwgoal300 " +
      Png + "}\\par{\\*\\x y}\\bin2 ab end}";
  QTextDocument doc;
  for (std::size_t n = 0; n <= good.size(); n += 7) {
    widgets::TRtfReader::Read(Bytes(good.substr(0, n)), doc);
  }
  std::uint32_t seed = 2024;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  const char specials[] = "{}\\'*0123456789-; ";
  for (int round = 0; round < 300; ++round) {
    std::string damaged = good;
    for (int k = 0; k < 6; ++k) {
      damaged[next() % damaged.size()] =
          next() % 2 == 0 ? specials[next() % (sizeof(specials) - 1)] : static_cast<char>(next());
    }
    widgets::TRtfReader::Read(Bytes(damaged), doc);
  }
  widgets::TRtfReader::Read(Bytes(good), doc);
  EXPECT_TRUE(doc.toPlainText().startsWith(QString::fromUtf8("Téxt €")));
}

}  // namespace
