#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>

namespace dbcomp {
class TDataSource;
class TField;
class TFieldDataLink;
}  // namespace dbcomp

namespace widgets {

// The link object of a single-field data-aware control: it owns a
// dbcomp::TFieldDataLink and turns its plain C++ notifications into Qt
// signals, so the control reacts in ordinary slots.
//
//   DataChanged     the field's value may have changed (a move, a re-read,
//                   a field write, open or close): reload the control
//   EditingChanged  Editing() changed
//   ActiveChanged   the dataset opened or closed
//
// Writing the control's pending value back is not a signal: the dataset asks
// for it in the middle of a post, and a failure there must reach the post's
// caller. The control sets OnUpdateData, which may throw; the exception
// travels out of the dataset's Post (or the move that posts).
//
// Notifications arrive on the thread that drives the dataset (the
// user-interface thread). The link detaches from its data source when
// destroyed; a data source or dataset destroyed first leaves it inactive.
// Lifetime: owned by its control (QObject parent).
class TFieldLink : public QObject {
  Q_OBJECT

 public:
  explicit TFieldLink(QObject* parent = nullptr);
  ~TFieldLink() override;

  dbcomp::TDataSource* DataSource() const noexcept;
  void SetDataSource(dbcomp::TDataSource* source);
  const std::string& FieldName() const noexcept;
  void SetFieldName(std::string name);
  // The bound field; null while inactive or unbound.
  dbcomp::TField* Field() const noexcept;

  bool Active() const noexcept;
  bool Editing() const noexcept;
  bool ReadOnly() const noexcept;
  void SetReadOnly(bool value);
  // Puts the dataset into edit state when it is browsing and may be changed;
  // answers whether the control may now change its value. Raises what the
  // dataset's Edit raises (a locked record, a read-only table).
  bool Edit();
  // The control holds a value not yet written into the field.
  void MarkModified() noexcept;
  bool IsModified() const noexcept;

  // Called when the dataset wants the pending value written into Field().
  std::function<void()> OnUpdateData;

  // The wrapped link, for tests and for controls that need more of it.
  dbcomp::TFieldDataLink& Link() noexcept { return *FLink; }

 Q_SIGNALS:
  void DataChanged();
  void EditingChanged();
  void ActiveChanged();

 private:
  std::unique_ptr<dbcomp::TFieldDataLink> FLink;
};

}  // namespace widgets
