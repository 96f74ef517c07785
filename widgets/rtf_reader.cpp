#include "widgets/rtf_reader.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>
#include <vector>

#include "widgets/code_page_1252.h"

namespace widgets {

namespace {

// Screen resolution the twip measures are converted with: 1440 twips per inch
// at 96 pixels per inch.
constexpr double TwipsPerPixel = 15.0;

// Where the characters of the current group go.
enum class TDestination { Text, Skip, FontTable, ColorTable, Picture };

enum class TPictureKind { None, Png, Jpeg, Other };

struct TCharState {
  int Font = -1;       // font table number; -1 when the text never chose one
  int HalfPoints = 0;  // \fs value; 0 when the text never chose a size
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool Strike = false;
  int Color = 0;  // colour table index; 0 is the default colour
  int Highlight = 0;
  int VerticalAlign = 0;  // 0 normal, 1 superscript, 2 subscript
};

struct TParaState {
  Qt::Alignment Align = Qt::AlignLeft;
  int LeftTwips = 0;
  int RightTwips = 0;
  int FirstTwips = 0;
  int SpaceBeforeTwips = 0;
  int SpaceAfterTwips = 0;
};

struct TGroupState {
  TCharState Char;
  TParaState Para;
  TDestination Dest = TDestination::Text;
  int UnicodeSkip = 1;  // \uc: fallback characters that follow each \u
};

struct TPicture {
  TPictureKind Kind = TPictureKind::None;
  std::vector<std::uint8_t> Data;
  int PendingNibble = -1;
  int GoalWidth = 0;   // twips
  int GoalHeight = 0;  // twips
  int ScaleX = 100;    // percent
  int ScaleY = 100;
};

class TReader {
 public:
  TReader(std::span<const std::uint8_t> rtf, QTextDocument& doc)
      : FIn(rtf), FDoc(doc), FCursor(&doc) {}

  void Run();

 private:
  void OpenGroup();
  void CloseGroup();
  void ControlWord(std::string_view word, bool hasParam, int param);
  void ControlSymbol(char symbol);
  void Character(char16_t ch);
  void HexCharacter(std::uint8_t byte);
  void Flush();
  void Finish();
  void EndParagraph();
  void InsertPicture();
  void StoreFontEntry();
  void StoreColorEntry();
  QTextCharFormat CharFormat() const;
  QTextBlockFormat BlockFormat() const;
  bool DestinationWord(std::string_view word);

  std::span<const std::uint8_t> FIn;
  std::size_t FPos = 0;
  QTextDocument& FDoc;
  QTextCursor FCursor;

  std::vector<TGroupState> FStack;
  TGroupState FState;
  int FOverflowDepth = 0;      // groups opened beyond MaxGroupDepth, skipped whole
  bool FDone = false;          // the document's group has closed
  bool FStarPending = false;   // "\*" seen: the next word is an optional destination
  bool FFirstInGroup = false;  // no word or text yet since the group opened
  int FSkipFallback = 0;       // fallback characters still to drop after \u

  QString FPending;  // text not yet inserted, all in the current character format

  std::map<int, QString> FFonts;
  int FFontNumber = -1;
  QString FFontName;

  std::vector<QColor> FColors;
  int FRed = 0, FGreen = 0, FBlue = 0;
  bool FColorSet = false;

  TPicture FPicture;
  int FPictureCount = 0;
};

void TReader::Run() {
  FDoc.clear();
  FCursor = QTextCursor(&FDoc);
  while (FPos < FIn.size() && !FDone) {
    const char c = static_cast<char>(FIn[FPos++]);
    if (c == '{') {
      OpenGroup();
    } else if (c == '}') {
      CloseGroup();
    } else if (FOverflowDepth > 0) {
      continue;
    } else if (c == '\\') {
      if (FPos >= FIn.size()) break;
      const char next = static_cast<char>(FIn[FPos]);
      if ((next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z')) {
        const std::size_t start = FPos;
        while (FPos < FIn.size() && FPos - start < 32 &&
               std::isalpha(static_cast<unsigned char>(FIn[FPos]))) {
          ++FPos;
        }
        const std::string_view word(reinterpret_cast<const char*>(FIn.data()) + start,
                                    FPos - start);
        bool negative = false;
        if (FPos < FIn.size() && FIn[FPos] == '-') {
          negative = true;
          ++FPos;
        }
        bool hasParam = false;
        std::int64_t value = 0;
        while (FPos < FIn.size() && std::isdigit(static_cast<unsigned char>(FIn[FPos]))) {
          hasParam = true;
          if (value < 100000000000) value = value * 10 + (FIn[FPos] - '0');
          ++FPos;
        }
        if (negative && !hasParam) --FPos;  // a lone "-" is text, not a sign
        if (FPos < FIn.size() && FIn[FPos] == ' ') ++FPos;
        value = std::clamp<std::int64_t>(negative ? -value : value, INT32_MIN, INT32_MAX);
        ControlWord(word, hasParam, static_cast<int>(value));
      } else {
        ++FPos;
        ControlSymbol(next);
      }
    } else if (c == '\r' || c == '\n') {
      continue;
    } else {
      Character(Cp1252ToUnicode(static_cast<std::uint8_t>(c)));
    }
  }
  // Unclosed groups: finish a picture still being read, then the text.
  while (FStack.size() > 1) CloseGroup();
  if (!FDone) Finish();
}

void TReader::Finish() {
  Flush();
  FCursor.setBlockFormat(BlockFormat());
  FDone = true;
}

void TReader::OpenGroup() {
  if (FOverflowDepth > 0 || FStack.size() >= static_cast<std::size_t>(TRtfReader::MaxGroupDepth)) {
    ++FOverflowDepth;
    return;
  }
  Flush();
  FStack.push_back(FState);
  FFirstInGroup = true;
  FStarPending = false;
}

void TReader::CloseGroup() {
  if (FOverflowDepth > 0) {
    --FOverflowDepth;
    return;
  }
  if (FStack.empty()) return;  // a "}" before any "{"
  if (FStack.size() == 1) {
    // The document's own group ends: its last paragraph takes the state in
    // force here, and whatever follows the closing brace is not text.
    Finish();
    FStack.pop_back();
    return;
  }
  Flush();
  const TDestination closing = FState.Dest;
  if (closing == TDestination::FontTable && !FFontName.isEmpty()) StoreFontEntry();
  FState = FStack.back();
  FStack.pop_back();
  if (closing == TDestination::Picture && FState.Dest != TDestination::Picture) {
    if (FState.Dest == TDestination::Text) InsertPicture();
    FPicture = TPicture{};
  }
  FStarPending = false;
  FFirstInGroup = false;
  FSkipFallback = 0;
}

// Handles the words that open a destination. Returns true when `word` was one.
bool TReader::DestinationWord(std::string_view word) {
  static constexpr std::string_view Skipped[] = {
      "info",
      "stylesheet",
      "header",
      "headerl",
      "headerr",
      "headerf",
      "footer",
      "footerl",
      "footerr",
      "footerf",
      "footnote",
      "nonshppict",
      "xe",
      "tc",
      "txe",
      "listtable",
      "listoverridetable",
      "revtbl",
      "rsidtbl",
      "generator",
      "themedata",
      "colorschememapping",
      "datastore",
      "latentstyles",
      "pgdsctbl",
      "objdata",
      "objclass",
      "fldinst",
      "bkmkstart",
      "bkmkend",
      "annotation",
      "atnid",
      "atnauthor",
      "comment",
      "filetbl",
      "pnseclvl",
      "mmathPr",
      "xmlnstbl",
      "wgrffmtfilter",
  };
  if (word == "fonttbl") {
    FState.Dest = TDestination::FontTable;
    FFontNumber = -1;
    FFontName.clear();
    return true;
  }
  if (word == "colortbl") {
    FState.Dest = TDestination::ColorTable;
    FColors.clear();
    FColorSet = false;
    FRed = FGreen = FBlue = 0;
    return true;
  }
  if (word == "pict") {
    FState.Dest = TDestination::Picture;
    FPicture = TPicture{};
    return true;
  }
  // Containers whose content is shown as ordinary text.
  if (word == "shppict" || word == "fldrslt" || word == "field" || word == "result" ||
      word == "object" || word == "pntext" || word == "listtext") {
    return true;
  }
  for (std::string_view s : Skipped) {
    if (word == s) {
      FState.Dest = TDestination::Skip;
      return true;
    }
  }
  return false;
}

void TReader::ControlWord(std::string_view word, bool hasParam, int param) {
  const bool starred = FStarPending;
  FStarPending = false;
  const bool first = FFirstInGroup;
  FFirstInGroup = false;

  if (FState.Dest == TDestination::Skip) {
    if (word == "bin" && hasParam && param > 0) {
      FPos += std::min<std::size_t>(static_cast<std::size_t>(param), FIn.size() - FPos);
    }
    return;
  }
  if (FSkipFallback > 0 && FState.Dest == TDestination::Text) {
    // A control word in the fallback text of \u counts as one character,
    // except the group's formatting words, which are not characters.
    --FSkipFallback;
    if (word == "bin" && hasParam && param > 0) {
      FPos += std::min<std::size_t>(static_cast<std::size_t>(param), FIn.size() - FPos);
    }
    return;
  }
  if ((first || starred) && DestinationWord(word)) return;
  if (starred) {
    FState.Dest = TDestination::Skip;
    return;
  }

  TCharState& ch = FState.Char;
  TParaState& para = FState.Para;
  const bool on = !hasParam || param != 0;

  if (FState.Dest == TDestination::FontTable) {
    if (word == "f") {
      if (!FFontName.isEmpty()) StoreFontEntry();
      FFontNumber = hasParam ? param : 0;
      FFontName.clear();
    } else if (word == "u" && hasParam) {
      FFontName += QChar(static_cast<char16_t>(param < 0 ? param + 65536 : param));
    }
    return;
  }
  if (FState.Dest == TDestination::ColorTable) {
    const int v = std::clamp(hasParam ? param : 0, 0, 255);
    if (word == "red") {
      FRed = v;
      FColorSet = true;
    } else if (word == "green") {
      FGreen = v;
      FColorSet = true;
    } else if (word == "blue") {
      FBlue = v;
      FColorSet = true;
    }
    return;
  }
  if (FState.Dest == TDestination::Picture) {
    TPicture& p = FPicture;
    if (word == "pngblip") {
      p.Kind = TPictureKind::Png;
    } else if (word == "jpegblip") {
      p.Kind = TPictureKind::Jpeg;
    } else if (word == "emfblip" || word == "wmetafile" || word == "macpict" ||
               word == "dibitmap" || word == "wbitmap" || word == "pmmetafile") {
      p.Kind = TPictureKind::Other;
    } else if (word == "picwgoal" && hasParam) {
      p.GoalWidth = std::max(0, param);
    } else if (word == "pichgoal" && hasParam) {
      p.GoalHeight = std::max(0, param);
    } else if (word == "picscalex" && hasParam) {
      p.ScaleX = std::clamp(param, 1, 10000);
    } else if (word == "picscaley" && hasParam) {
      p.ScaleY = std::clamp(param, 1, 10000);
    } else if (word == "bin" && hasParam && param > 0) {
      const std::size_t n =
          std::min<std::size_t>(static_cast<std::size_t>(param), FIn.size() - FPos);
      p.Data.insert(p.Data.end(), FIn.begin() + FPos, FIn.begin() + FPos + n);
      FPos += n;
    }
    return;
  }

  // Ordinary text destination.
  if (word == "par" || word == "page" || word == "sect") {
    EndParagraph();
  } else if (word == "line") {
    Character(0x2028);
  } else if (word == "tab") {
    Character(u'\t');
  } else if (word == "pard") {
    Flush();
    para = TParaState{};
  } else if (word == "plain") {
    Flush();
    ch = TCharState{};
  } else if (word == "b") {
    Flush();
    ch.Bold = on;
  } else if (word == "i") {
    Flush();
    ch.Italic = on;
  } else if (word == "ul" || word == "uld" || word == "uldash" || word == "uldb" ||
             word == "ulth" || word == "ulw" || word == "ulwave") {
    Flush();
    ch.Underline = on;
  } else if (word == "ulnone") {
    Flush();
    ch.Underline = false;
  } else if (word == "strike") {
    Flush();
    ch.Strike = on;
  } else if (word == "fs") {
    Flush();
    ch.HalfPoints = hasParam ? std::clamp(param, 0, 3276) : 24;
  } else if (word == "f") {
    Flush();
    ch.Font = hasParam ? param : 0;
  } else if (word == "cf") {
    Flush();
    ch.Color = hasParam ? std::max(0, param) : 0;
  } else if (word == "highlight" || word == "cb" || word == "chcbpat") {
    Flush();
    ch.Highlight = hasParam ? std::max(0, param) : 0;
  } else if (word == "super") {
    Flush();
    ch.VerticalAlign = 1;
  } else if (word == "sub") {
    Flush();
    ch.VerticalAlign = 2;
  } else if (word == "nosupersub") {
    Flush();
    ch.VerticalAlign = 0;
  } else if (word == "ql") {
    para.Align = Qt::AlignLeft;
  } else if (word == "qc") {
    para.Align = Qt::AlignHCenter;
  } else if (word == "qr") {
    para.Align = Qt::AlignRight;
  } else if (word == "qj") {
    para.Align = Qt::AlignJustify;
  } else if (word == "li") {
    para.LeftTwips = hasParam ? param : 0;
  } else if (word == "ri") {
    para.RightTwips = hasParam ? param : 0;
  } else if (word == "fi") {
    para.FirstTwips = hasParam ? param : 0;
  } else if (word == "sb") {
    para.SpaceBeforeTwips = hasParam ? param : 0;
  } else if (word == "sa") {
    para.SpaceAfterTwips = hasParam ? param : 0;
  } else if (word == "uc") {
    FState.UnicodeSkip = std::clamp(hasParam ? param : 1, 0, 16);
  } else if (word == "u" && hasParam) {
    Character(static_cast<char16_t>(param < 0 ? param + 65536 : param));
    FSkipFallback = FState.UnicodeSkip;
  } else if (word == "emdash") {
    Character(0x2014);
  } else if (word == "endash") {
    Character(0x2013);
  } else if (word == "lquote") {
    Character(0x2018);
  } else if (word == "rquote") {
    Character(0x2019);
  } else if (word == "ldblquote") {
    Character(0x201C);
  } else if (word == "rdblquote") {
    Character(0x201D);
  } else if (word == "bullet") {
    Character(0x2022);
  } else if (word == "emspace") {
    Character(0x2003);
  } else if (word == "enspace") {
    Character(0x2002);
  } else if (word == "bin" && hasParam && param > 0) {
    FPos += std::min<std::size_t>(static_cast<std::size_t>(param), FIn.size() - FPos);
  }
  // Every other word (document settings, unknown words) is ignored.
}

void TReader::ControlSymbol(char symbol) {
  FStarPending = false;
  switch (symbol) {
    case '*':
      FStarPending = true;
      FFirstInGroup = false;
      return;
    case '\'': {
      int value = -1;
      if (FPos + 2 <= FIn.size()) {
        auto hexValue = [](std::uint8_t c) -> int {
          if (c >= '0' && c <= '9') return c - '0';
          if (c >= 'a' && c <= 'f') return c - 'a' + 10;
          if (c >= 'A' && c <= 'F') return c - 'A' + 10;
          return -1;
        };
        const int hi = hexValue(FIn[FPos]);
        const int lo = hexValue(FIn[FPos + 1]);
        if (hi >= 0 && lo >= 0) {
          value = hi * 16 + lo;
          FPos += 2;
        }
      }
      if (value >= 0) HexCharacter(static_cast<std::uint8_t>(value));
      return;
    }
    case '\r':
    case '\n':
      if (FState.Dest == TDestination::Text && FSkipFallback == 0) EndParagraph();
      return;
    case '~':
      Character(0x00A0);
      return;
    case '_':
      Character(0x2011);
      return;
    case '-':
      return;  // optional hyphen: not shown
    case '\\':
    case '{':
    case '}':
      Character(static_cast<char16_t>(symbol));
      return;
    default:
      return;
  }
}

void TReader::Character(char16_t ch) {
  FFirstInGroup = false;
  switch (FState.Dest) {
    case TDestination::Skip:
      return;
    case TDestination::Text:
      if (FSkipFallback > 0) {
        --FSkipFallback;
        return;
      }
      FPending += QChar(ch);
      return;
    case TDestination::FontTable:
      if (ch == u';') {
        StoreFontEntry();
      } else {
        FFontName += QChar(ch);
      }
      return;
    case TDestination::ColorTable:
      if (ch == u';') StoreColorEntry();
      return;
    case TDestination::Picture: {
      int v = -1;
      if (ch >= u'0' && ch <= u'9') v = ch - u'0';
      if (ch >= u'a' && ch <= u'f') v = ch - u'a' + 10;
      if (ch >= u'A' && ch <= u'F') v = ch - u'A' + 10;
      if (v < 0) return;  // blanks and stray characters between the hex digits
      if (FPicture.PendingNibble < 0) {
        FPicture.PendingNibble = v;
      } else {
        FPicture.Data.push_back(static_cast<std::uint8_t>(FPicture.PendingNibble * 16 + v));
        FPicture.PendingNibble = -1;
      }
      return;
    }
  }
}

void TReader::HexCharacter(std::uint8_t byte) {
  if (FState.Dest == TDestination::Picture) return;
  Character(Cp1252ToUnicode(byte));
}

void TReader::StoreFontEntry() {
  const QString name = FFontName.trimmed();
  if (FFontNumber >= 0 && !name.isEmpty()) FFonts[FFontNumber] = name;
  FFontName.clear();
}

void TReader::StoreColorEntry() {
  FColors.push_back(FColorSet ? QColor(FRed, FGreen, FBlue) : QColor());
  FRed = FGreen = FBlue = 0;
  FColorSet = false;
}

QTextCharFormat TReader::CharFormat() const {
  const TCharState& s = FState.Char;
  QTextCharFormat f;
  if (s.Font >= 0) {
    const auto it = FFonts.find(s.Font);
    if (it != FFonts.end()) f.setFontFamilies(QStringList{it->second});
  }
  if (s.HalfPoints > 0) f.setFontPointSize(s.HalfPoints / 2.0);
  if (s.Bold) f.setFontWeight(QFont::Bold);
  if (s.Italic) f.setFontItalic(true);
  if (s.Underline) f.setFontUnderline(true);
  if (s.Strike) f.setFontStrikeOut(true);
  if (s.Color > 0 && static_cast<std::size_t>(s.Color) < FColors.size() &&
      FColors[s.Color].isValid()) {
    f.setForeground(FColors[s.Color]);
  }
  if (s.Highlight > 0 && static_cast<std::size_t>(s.Highlight) < FColors.size() &&
      FColors[s.Highlight].isValid()) {
    f.setBackground(FColors[s.Highlight]);
  }
  if (s.VerticalAlign == 1) f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
  if (s.VerticalAlign == 2) f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
  return f;
}

QTextBlockFormat TReader::BlockFormat() const {
  const TParaState& p = FState.Para;
  QTextBlockFormat f;
  f.setAlignment(p.Align);
  if (p.LeftTwips != 0) f.setLeftMargin(p.LeftTwips / TwipsPerPixel);
  if (p.RightTwips != 0) f.setRightMargin(p.RightTwips / TwipsPerPixel);
  if (p.FirstTwips != 0) f.setTextIndent(p.FirstTwips / TwipsPerPixel);
  if (p.SpaceBeforeTwips != 0) f.setTopMargin(p.SpaceBeforeTwips / TwipsPerPixel);
  if (p.SpaceAfterTwips != 0) f.setBottomMargin(p.SpaceAfterTwips / TwipsPerPixel);
  return f;
}

void TReader::Flush() {
  if (FPending.isEmpty()) return;
  FCursor.insertText(FPending, CharFormat());
  FPending.clear();
}

void TReader::EndParagraph() {
  Flush();
  FCursor.setBlockFormat(BlockFormat());
  FCursor.insertBlock(BlockFormat(), CharFormat());
}

void TReader::InsertPicture() {
  const TPicture& p = FPicture;
  if (p.Kind != TPictureKind::Png && p.Kind != TPictureKind::Jpeg) return;
  QImage image;
  if (!image.loadFromData(p.Data.data(), static_cast<int>(p.Data.size()),
                          p.Kind == TPictureKind::Png ? "PNG" : "JPEG")) {
    return;
  }
  double width = p.GoalWidth > 0 ? p.GoalWidth / TwipsPerPixel : image.width();
  double height = p.GoalHeight > 0 ? p.GoalHeight / TwipsPerPixel : image.height();
  width = width * p.ScaleX / 100.0;
  height = height * p.ScaleY / 100.0;
  const QString name = QStringLiteral("rtfpict:%1").arg(++FPictureCount);
  FDoc.addResource(QTextDocument::ImageResource, QUrl(name), image);
  QTextImageFormat f;
  f.setName(name);
  f.setWidth(width);
  f.setHeight(height);
  Flush();
  FCursor.insertImage(f);
}

}  // namespace

bool TRtfReader::LooksLikeRtf(std::span<const std::uint8_t> bytes) {
  std::size_t i = 0;
  while (i < bytes.size() &&
         (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n')) {
    ++i;
  }
  static constexpr char Magic[] = "{\\rtf";
  if (bytes.size() - i < sizeof(Magic) - 1) return false;
  return std::memcmp(bytes.data() + i, Magic, sizeof(Magic) - 1) == 0;
}

void TRtfReader::Read(std::span<const std::uint8_t> rtf, QTextDocument& doc) {
  if (!LooksLikeRtf(rtf)) {
    QString text;
    text.reserve(static_cast<qsizetype>(rtf.size()));
    for (std::size_t i = 0; i < rtf.size(); ++i) {
      const std::uint8_t b = rtf[i];
      if (b == '\r') {
        text += QChar(u'\n');
        if (i + 1 < rtf.size() && rtf[i + 1] == '\n') ++i;
      } else {
        text += QChar(Cp1252ToUnicode(b));
      }
    }
    doc.setPlainText(text);
    return;
  }
  TReader reader(rtf, doc);
  reader.Run();
}

}  // namespace widgets
