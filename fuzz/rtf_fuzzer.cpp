// RTF documents: the input is a question blob, read into a QTextDocument by
// the rich-text view's reader (widgets/rtf_reader.h), which never fails and
// never throws. The document is then laid out, as the view would show it.

#include <QGuiApplication>
#include <QTextDocument>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "widgets/rtf_reader.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QGuiApplication app(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  QTextDocument doc;
  widgets::TRtfReader::Read(std::span<const std::uint8_t>(data, size), doc);
  doc.setTextWidth(400);
  (void)doc.size();
  return 0;
}
