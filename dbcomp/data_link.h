#pragma once
// A data link: the connection of one data-aware control to a data source.
//
// The dataset tells its data sources, and they their links, about each
// change (TDataEvent). TDataLink turns those events into the virtuals below,
// which a control's link overrides. Notifications are plain C++ calls made on
// the thread that drives the dataset; a link must not destroy its dataset from
// inside a notification. A link may be destroyed or detached at any time: it
// removes itself from its data source.

#include <cstdint>

namespace dbcomp {

class TDataSet;
class TDataSource;
class TField;

// What happened to the dataset. Info carries a TField* for FieldChange and
// RecordChange (null: the whole record), a distance for DataSetScroll, a
// TField* for FocusControl, and nothing otherwise.
enum class TDataEvent : std::uint8_t {
  FieldChange,     // one field of the current record was written
  RecordChange,    // the current record was re-read (Edit) or a field changed
  DataSetChange,   // the current record was replaced (First, Last, Post, Cancel, ...)
  DataSetScroll,   // Next or Prior moved to another record
  LayoutChange,    // the fields changed
  UpdateRecord,    // about to post: controls write their pending values
  UpdateState,     // the state changed (open, close, edit, browse, ...)
  CheckBrowseMode, // about to leave edit mode
  FocusControl,    // a control bound to the field should take the focus
};

class TDataLink {
 public:
  TDataLink();
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const noexcept { return FDataSource; }
  // Attaches the link to a source (or detaches it with nullptr).
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const noexcept;
  // The source has an open dataset.
  bool Active() const noexcept { return FActive; }
  // The dataset is in edit or insert state and the link is not read-only.
  bool Editing() const noexcept { return FEditing; }
  bool ReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool value);

  // Puts the dataset into edit state if it is browsing, the source allows
  // automatic editing and the link is not read-only. Answers Editing().
  // Raises whatever the dataset's Edit raises.
  virtual bool Edit();
  // Asks the link's controls to write their pending values now.
  void UpdateRecord();

  // Entry point used by the data source.
  void DataEvent(TDataEvent event, std::intptr_t info);

 protected:
  virtual void ActiveChanged() {}
  virtual void EditingChanged() {}
  // A field (or, with nullptr, the whole record) changed: reload.
  virtual void RecordChanged(TField* field) { (void)field; }
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int distance) { (void)distance; DataSetChanged(); }
  virtual void LayoutChanged() { DataSetChanged(); }
  // Write the control's pending value into its field.
  virtual void UpdateData() {}
  // The dataset is about to leave edit mode.
  virtual void CheckBrowseMode() {}
  virtual void FocusControl(TField* field) { (void)field; }
  // Recomputes Active and Editing from the source and calls ActiveChanged and
  // EditingChanged on a change.
  void UpdateState();

 private:
  friend class TDataSource;
  TDataSource* FDataSource = nullptr;
  bool FActive = false;
  bool FEditing = false;
  bool FReadOnly = false;
  bool FUpdating = false;
};

}  // namespace dbcomp
