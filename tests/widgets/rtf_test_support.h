#pragma once
// Helpers shared by the RTF reader and writer tests.

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>
#include <QVariant>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rtf_testing {

inline std::vector<std::uint8_t> Bytes(std::string_view s) {
  return std::vector<std::uint8_t>(s.begin(), s.end());
}

// The document's text with paragraphs ended by "\n" and every other
// character as stored (toPlainText would turn no-break spaces and line
// separators into ordinary ones).
inline QString Text(const QTextDocument& doc) {
  QString text = doc.toRawText();
  text.replace(QChar(QChar::ParagraphSeparator), QChar(u'\n'));
  return text;
}

// The character format of the first character of the first occurrence of
// `probe` in the document.
inline QTextCharFormat FormatAt(const QTextDocument& doc, const QString& probe) {
  const QTextCursor found = doc.find(probe);
  if (found.isNull()) return QTextCharFormat();
  QTextCursor c(const_cast<QTextDocument*>(&doc));
  c.setPosition(found.selectionStart() + 1);
  return c.charFormat();
}

inline QTextBlockFormat BlockAt(const QTextDocument& doc, const QString& probe) {
  const QTextCursor found = doc.find(probe);
  return found.isNull() ? QTextBlockFormat() : found.block().blockFormat();
}

// A small PNG (or JPEG) of one colour, as the hex text of an RTF picture.
inline std::string PictureHex(int w, int h, QColor color, const char* format = "PNG") {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(color);
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return data.toHex().toStdString();
}

// The images in the document, in text order, with their shown size.
struct TShownImage {
  QImage Image;
  double Width;
  double Height;
};

inline std::vector<TShownImage> Images(const QTextDocument& doc) {
  std::vector<TShownImage> out;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat f = it.fragment().charFormat();
      if (!f.isImageFormat()) continue;
      const QTextImageFormat img = f.toImageFormat();
      const QVariant res = doc.resource(QTextDocument::ImageResource, QUrl(img.name()));
      for (qsizetype i = 0; i < it.fragment().length(); ++i) {
        out.push_back({res.value<QImage>(), img.width(), img.height()});
      }
    }
  }
  return out;
}

}  // namespace rtf_testing
