#pragma once

#include <QWidget>
#include <array>
#include <cstddef>
#include <functional>
#include <memory>

class QToolButton;

namespace dbcomp {
class TDataSource;
}

namespace widgets {

// The buttons of a TDBNavigator, in the order they stand from left to right.
enum class TNavigateBtn : std::uint8_t {
  First,
  Prior,
  Next,
  Last,
  Insert,
  Delete,
  Edit,
  Post,
  Cancel,
  Refresh,
};
inline constexpr std::size_t NavigateBtnCount = 10;

// A row of buttons that drive the dataset of a data source: move to the
// first, prior, next and last record, insert, delete, edit, post, cancel and
// refresh. The buttons share the widget's width evenly and show drawn glyphs;
// their hints ("First record", ..., "Refresh data") are shown as tool tips
// while ShowHint() is on (the default).
//
// Enabling follows the dataset through a data link: every button is disabled
// while the source has no open dataset. Otherwise First and Prior are enabled
// unless the dataset is at its beginning, Next and Last unless it is at its
// end; when the dataset can be modified, Insert is always enabled, Delete
// while there is a record, Edit while there is a record and no edit runs, Post
// and Cancel while an edit or insert runs. Refresh is enabled while no edit
// runs.
//
// A click runs the dataset operation of the button (Insert inserts before the
// current record; Post and Cancel end the edit; Delete first asks
// "Delete record?" when ConfirmDelete() is on, through OnConfirm or else a
// standard question box). An exception of the component layer goes to
// ReportException; Click is emitted after the operation either way.
class TDBNavigator : public QWidget {
  Q_OBJECT

 public:
  explicit TDBNavigator(QWidget* parent = nullptr);
  ~TDBNavigator() override;

  void SetDataSource(dbcomp::TDataSource* source);
  dbcomp::TDataSource* DataSource() const;

  bool ShowHint() const noexcept { return FShowHint; }
  void SetShowHint(bool value);
  bool ConfirmDelete() const noexcept { return FConfirmDelete; }
  void SetConfirmDelete(bool value) noexcept { FConfirmDelete = value; }

  QToolButton* Button(TNavigateBtn button) const;
  // The hint of a button ("First record", "Prior record", "Next record",
  // "Last record", "Insert record", "Delete record", "Edit record",
  // "Post edit", "Cancel edit", "Refresh data").
  static QString Hint(TNavigateBtn button);

  // Runs the button's operation as a click does (also on a disabled button).
  void BtnClick(TNavigateBtn button);

  // Asks the question of a delete; answers whether to go on. When not set, a
  // standard question box asks.
  std::function<bool(const QString& question)> OnConfirm;

  // Sets the buttons' enabled state from the dataset.
  void UpdateButtons();

 Q_SIGNALS:
  void Click(widgets::TNavigateBtn button);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  class TLink;
  void ArrangeButtons();
  void RunButton(TNavigateBtn button);

  std::unique_ptr<TLink> FLink;
  std::array<QToolButton*, NavigateBtnCount> FButtons{};
  bool FShowHint = true;
  bool FConfirmDelete = true;
};

}  // namespace widgets
