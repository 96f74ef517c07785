#include "widgets/rtf_writer.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QUrl>
#include <QVariant>
#include <cmath>
#include <string>

#include "widgets/code_page_1252.h"

namespace widgets {

namespace {

constexpr double TwipsPerPixel = 15.0;

class TWriter {
 public:
  explicit TWriter(const QTextDocument& doc) : FDoc(doc) {}
  std::vector<std::uint8_t> Run();

 private:
  int FontNumber(const QString& family);
  int ColorNumber(const QColor& color);
  void CollectTables();
  void WriteText(const QString& text);
  void WriteRun(const QTextFragment& fragment);
  void WritePicture(const QTextImageFormat& format);
  void WriteParagraphStart(const QTextBlock& block);
  static std::string Number(double v) { return std::to_string(std::lround(v)); }

  const QTextDocument& FDoc;
  QStringList FFonts;
  QList<QColor> FColors;
  std::string FBody;
};

int TWriter::FontNumber(const QString& family) {
  qsizetype i = FFonts.indexOf(family);
  if (i < 0) {
    FFonts.append(family);
    i = FFonts.size() - 1;
  }
  return static_cast<int>(i);
}

int TWriter::ColorNumber(const QColor& color) {
  const QColor rgb = color.toRgb();
  for (qsizetype i = 0; i < FColors.size(); ++i) {
    if (FColors[i].rgb() == rgb.rgb()) return static_cast<int>(i) + 1;
  }
  FColors.append(rgb);
  return static_cast<int>(FColors.size());
}

void TWriter::WriteText(const QString& text) {
  for (QChar qc : text) {
    const char16_t c = qc.unicode();
    if (c == u'\\' || c == u'{' || c == u'}') {
      FBody += '\\';
      FBody += static_cast<char>(c);
    } else if (c == u'\t') {
      FBody += "\\tab ";
    } else if (c == 0x2028 || c == u'\n') {
      FBody += "\\line ";
    } else if (c == 0x00A0) {
      FBody += "\\~";
    } else if (c >= 0x20 && c < 0x80) {
      FBody += static_cast<char>(c);
    } else {
      const int b = UnicodeToCp1252(c);
      if (b >= 0x80) {
        static constexpr char Hex[] = "0123456789abcdef";
        FBody += "\\'";
        FBody += Hex[b >> 4];
        FBody += Hex[b & 15];
      } else {
        FBody += "\\u" + std::to_string(static_cast<std::int16_t>(c)) + "?";
      }
    }
  }
}

void TWriter::WritePicture(const QTextImageFormat& format) {
  const QVariant res = FDoc.resource(QTextDocument::ImageResource, QUrl(format.name()));
  QImage image;
  if (res.canConvert<QImage>()) image = res.value<QImage>();
  if (image.isNull() && res.canConvert<QPixmap>()) image = res.value<QPixmap>().toImage();
  if (image.isNull() && res.canConvert<QByteArray>()) image.loadFromData(res.toByteArray());
  if (image.isNull()) return;
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return;
  const double w = format.width() > 0 ? format.width() : image.width();
  const double h = format.height() > 0 ? format.height() : image.height();
  FBody += "{\\pict\\pngblip\\picw" + std::to_string(image.width()) + "\\pich" +
           std::to_string(image.height()) + "\\picwgoal" + Number(w * TwipsPerPixel) +
           "\\pichgoal" + Number(h * TwipsPerPixel) + "\n";
  static constexpr char Hex[] = "0123456789abcdef";
  for (qsizetype i = 0; i < png.size(); ++i) {
    const auto b = static_cast<std::uint8_t>(png[i]);
    FBody += Hex[b >> 4];
    FBody += Hex[b & 15];
    if (i % 64 == 63) FBody += '\n';
  }
  FBody += "}";
}

void TWriter::WriteRun(const QTextFragment& fragment) {
  const QTextCharFormat f = fragment.charFormat();
  if (f.isImageFormat()) {
    // Adjacent equal images share one fragment: one picture per character.
    for (qsizetype i = 0; i < fragment.text().size(); ++i) WritePicture(f.toImageFormat());
    return;
  }
  std::string props;
  if (f.hasProperty(QTextFormat::FontFamilies)) {
    const QStringList families = f.fontFamilies().toStringList();
    if (!families.isEmpty()) props += "\\f" + std::to_string(FontNumber(families.first()));
  }
  if (f.hasProperty(QTextFormat::FontPointSize)) {
    props += "\\fs" + Number(f.fontPointSize() * 2);
  }
  if (f.hasProperty(QTextFormat::FontWeight) && f.fontWeight() >= QFont::DemiBold) props += "\\b";
  if (f.hasProperty(QTextFormat::FontItalic) && f.fontItalic()) props += "\\i";
  if (f.hasProperty(QTextFormat::TextUnderlineStyle) && f.fontUnderline()) props += "\\ul";
  if (f.hasProperty(QTextFormat::FontStrikeOut) && f.fontStrikeOut()) props += "\\strike";
  if (f.hasProperty(QTextFormat::ForegroundBrush)) {
    props += "\\cf" + std::to_string(ColorNumber(f.foreground().color()));
  }
  if (f.hasProperty(QTextFormat::BackgroundBrush)) {
    props += "\\highlight" + std::to_string(ColorNumber(f.background().color()));
  }
  if (f.verticalAlignment() == QTextCharFormat::AlignSuperScript) props += "\\super";
  if (f.verticalAlignment() == QTextCharFormat::AlignSubScript) props += "\\sub";
  FBody += "{" + props;
  if (!props.empty()) FBody += ' ';
  WriteText(fragment.text());
  FBody += "}";
}

void TWriter::WriteParagraphStart(const QTextBlock& block) {
  const QTextBlockFormat f = block.blockFormat();
  FBody += "\\pard";
  const Qt::Alignment a = f.alignment() & Qt::AlignHorizontal_Mask;
  if (a & Qt::AlignHCenter) {
    FBody += "\\qc";
  } else if (a & Qt::AlignRight) {
    FBody += "\\qr";
  } else if (a & Qt::AlignJustify) {
    FBody += "\\qj";
  } else {
    FBody += "\\ql";
  }
  if (f.leftMargin() != 0) FBody += "\\li" + Number(f.leftMargin() * TwipsPerPixel);
  if (f.rightMargin() != 0) FBody += "\\ri" + Number(f.rightMargin() * TwipsPerPixel);
  if (f.textIndent() != 0) FBody += "\\fi" + Number(f.textIndent() * TwipsPerPixel);
  if (f.topMargin() != 0) FBody += "\\sb" + Number(f.topMargin() * TwipsPerPixel);
  if (f.bottomMargin() != 0) FBody += "\\sa" + Number(f.bottomMargin() * TwipsPerPixel);
  FBody += ' ';
}

std::vector<std::uint8_t> TWriter::Run() {
  FFonts.append(FDoc.defaultFont().family());
  for (QTextBlock block = FDoc.begin(); block.isValid(); block = block.next()) {
    WriteParagraphStart(block);
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (fragment.isValid()) WriteRun(fragment);
    }
    if (block.next().isValid()) FBody += "\\par\n";
  }

  std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl";
  for (qsizetype i = 0; i < FFonts.size(); ++i) {
    out += "{\\f" + std::to_string(i) + " ";
    // Font names go through the same escaping as text.
    std::string saved;
    saved.swap(FBody);
    WriteText(FFonts[i]);
    out += FBody;
    FBody.swap(saved);
    out += ";}";
  }
  out += "}\n{\\colortbl ;";
  for (const QColor& c : FColors) {
    out += "\\red" + std::to_string(c.red()) + "\\green" + std::to_string(c.green()) + "\\blue" +
           std::to_string(c.blue()) + ";";
  }
  out += "}\n";
  out += FBody;
  out += "}\n";
  return std::vector<std::uint8_t>(out.begin(), out.end());
}

}  // namespace

std::vector<std::uint8_t> TRtfWriter::Write(const QTextDocument& doc) {
  TWriter writer(doc);
  return writer.Run();
}

}  // namespace widgets
