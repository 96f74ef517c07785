#pragma once

#include <QFont>
#include <QTextCharFormat>
#include <QTextEdit>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class QImage;

namespace dbcomp {
class TDataSource;
}

namespace widgets {

class TFieldLink;

// A data-aware rich-text control: shows (and, unless read-only, edits) a blob
// field that holds rich text (RTF, see TRtfReader).
//
// Binding: SetDataSource + SetDataField. On every record change the control
// reads the whole blob and loads it; a null value, an inactive dataset or no
// field give an empty text. Typing in an editable control first asks the link
// for edit mode (keys are refused when the dataset cannot edit), and the text
// is written back as RTF (TRtfWriter) when the dataset posts.
//
// Change() is emitted once after every change of the content: each load
// (whatever the new text is) and each edit by the user. The default format
// (SetDefaultFont) is the document's default font, which every run without a
// font or size of its own takes; a handler of Change() can re-apply it after
// each load. Exceptions of the component layer inside the control's slots go
// to ReportException.
class TDBRichEdit : public QTextEdit {
  Q_OBJECT

 public:
  explicit TDBRichEdit(QWidget* parent = nullptr);
  ~TDBRichEdit() override;

  void SetDataSource(dbcomp::TDataSource* source);
  dbcomp::TDataSource* DataSource() const;
  void SetDataField(std::string fieldName);
  const std::string& DataField() const;
  TFieldLink& DataLink() noexcept { return *FLink; }

  // Replaces the content with the rich text in `rtf` (plain text when it is
  // not RTF) and emits Change(). Nothing is written to the field.
  void LoadRichText(std::span<const std::uint8_t> rtf);
  // The content as RTF bytes.
  std::vector<std::uint8_t> RichText() const;

  // Editing commands of an editable control. Each first asks the link for
  // edit mode, as typing does, and answers false (changing nothing) when the
  // dataset cannot edit.
  // Inserts `image` at the cursor (replacing the selection), as a picture of
  // at most `maxWidth` pixels (scaled down, keeping its proportions; 0: no
  // limit). The picture is kept in the document and written with the text.
  bool InsertPicture(const QImage& image, int maxWidth = 0);
  // Merges `format` into the selection's characters and into the format of
  // what is typed next (bold, italic, a point size, ...).
  bool MergeFormat(const QTextCharFormat& format);

  // The default character format: font family and size in points. A family
  // that is not installed falls back to a serif face of that size.
  void SetDefaultFont(const QString& family, double points);
  QFont DefaultFont() const;

 Q_SIGNALS:
  void Change();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;

 private:
  void LoadFromField();
  void WriteToField();
  void TextChangedHandler();
  bool AllowEdit();

  TFieldLink* FLink;
  bool FLoading = false;
  int FPictureCount = 0;
};

}  // namespace widgets
