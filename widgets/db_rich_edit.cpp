#include "widgets/db_rich_edit.h"

#include <QImage>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>
#include <algorithm>
#include <exception>

#include "dbcomp/field.h"
#include "widgets/exception_reporter.h"
#include "widgets/field_link.h"
#include "widgets/rtf_reader.h"
#include "widgets/rtf_writer.h"

namespace widgets {

TDBRichEdit::TDBRichEdit(QWidget* parent) : QTextEdit(parent), FLink(new TFieldLink(this)) {
  setAcceptRichText(true);
  connect(FLink, &TFieldLink::DataChanged, this, &TDBRichEdit::LoadFromField);
  connect(this, &QTextEdit::textChanged, this, &TDBRichEdit::TextChangedHandler);
  FLink->OnUpdateData = [this] { WriteToField(); };
}

TDBRichEdit::~TDBRichEdit() { FLink->OnUpdateData = nullptr; }

void TDBRichEdit::SetDataSource(dbcomp::TDataSource* source) {
  FLink->SetDataSource(source);
  LoadFromField();
}

dbcomp::TDataSource* TDBRichEdit::DataSource() const { return FLink->DataSource(); }

void TDBRichEdit::SetDataField(std::string fieldName) {
  FLink->SetFieldName(std::move(fieldName));
  LoadFromField();
}

const std::string& TDBRichEdit::DataField() const { return FLink->FieldName(); }

void TDBRichEdit::LoadRichText(std::span<const std::uint8_t> rtf) {
  FLoading = true;
  // The reader rebuilds the document; keep the default font across it.
  const QFont font = document()->defaultFont();
  TRtfReader::Read(rtf, *document());
  document()->setDefaultFont(font);
  FLoading = false;
  Q_EMIT Change();
}

std::vector<std::uint8_t> TDBRichEdit::RichText() const { return TRtfWriter::Write(*document()); }

void TDBRichEdit::SetDefaultFont(const QString& family, double points) {
  QFont font(family);
  font.setStyleHint(QFont::Serif);
  font.setPointSizeF(points);
  document()->setDefaultFont(font);
}

QFont TDBRichEdit::DefaultFont() const { return document()->defaultFont(); }

void TDBRichEdit::LoadFromField() {
  std::vector<std::uint8_t> bytes;
  try {
    dbcomp::TField* field = FLink->Field();
    if (field != nullptr && FLink->Active() && !field->IsNull()) bytes = field->AsBytes();
  } catch (const std::exception& e) {
    ReportException(e);
  }
  LoadRichText(bytes);
}

void TDBRichEdit::WriteToField() {
  dbcomp::TField* field = FLink->Field();
  if (field == nullptr) return;
  if (document()->isEmpty()) {
    field->Clear();
  } else {
    const std::vector<std::uint8_t> rtf = RichText();
    field->SetAsBytes(rtf);
  }
}

bool TDBRichEdit::InsertPicture(const QImage& image, int maxWidth) {
  if (image.isNull() || !AllowEdit()) return false;
  // A name no picture of the document has yet: those read from RTF are
  // "rtfpict:<n>".
  QString name;
  do {
    name = QStringLiteral("editpict:%1").arg(++FPictureCount);
  } while (document()->resource(QTextDocument::ImageResource, QUrl(name)).isValid());
  document()->addResource(QTextDocument::ImageResource, QUrl(name), image);
  QTextImageFormat format;
  format.setName(name);
  double w = image.width();
  double h = image.height();
  if (maxWidth > 0 && w > maxWidth) {
    h = h * maxWidth / w;
    w = maxWidth;
  }
  format.setWidth(w);
  format.setHeight(h);
  textCursor().insertImage(format);
  return true;
}

bool TDBRichEdit::MergeFormat(const QTextCharFormat& format) {
  if (!AllowEdit()) return false;
  mergeCurrentCharFormat(format);
  return true;
}

bool TDBRichEdit::AllowEdit() {
  if (isReadOnly()) return false;
  if (FLink->FieldName().empty() || FLink->DataSource() == nullptr) return true;
  if (FLink->Editing()) return true;
  // Entering edit mode reads the record again, which reloads the text: the
  // cursor and the selection are put back where they were.
  const int anchor = textCursor().anchor();
  const int position = textCursor().position();
  bool editing = false;
  try {
    editing = FLink->Edit();
  } catch (const std::exception& e) {
    ReportException(e);
    return false;
  }
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  const int end = cursor.position();
  cursor.setPosition(std::min(anchor, end));
  cursor.setPosition(std::min(position, end), QTextCursor::KeepAnchor);
  setTextCursor(cursor);
  return editing;
}

void TDBRichEdit::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  const bool typed = !text.isEmpty() && (text.at(0).isPrint() || text.at(0) == u'\r');
  const bool edits = typed || event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete ||
                     event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut);
  if (edits && !isReadOnly() && !AllowEdit()) {
    event->accept();
    return;
  }
  QTextEdit::keyPressEvent(event);
}

void TDBRichEdit::insertFromMimeData(const QMimeData* source) {
  if (!AllowEdit()) return;
  QTextEdit::insertFromMimeData(source);
}

void TDBRichEdit::TextChangedHandler() {
  if (FLoading) return;
  if (FLink->Editing()) FLink->MarkModified();
  Q_EMIT Change();
}

}  // namespace widgets
