#pragma once
// What a blob stream needs of its blob field and the field's dataset: the
// table component implements it for each blob field it hands a stream out
// for.
//
// Threads: the dataset's thread only.

#include <cstdint>
#include <exception>
#include <span>
#include <string>

namespace dbcomp {

class TBlobAccess;

class TBlobStreamHost {
 public:
  virtual ~TBlobStreamHost() = default;

  // ---- the field ----
  // The field's number in the table.
  virtual int FieldNo() const = 0;
  virtual std::string FieldName() const = 0;
  virtual std::string FieldDisplayName() const = 0;
  virtual bool FieldReadOnly() const = 0;
  // The field was written in the current edit: its blob buffer is open in
  // the engine and stays open until the record is posted or cancelled.
  virtual bool FieldModified() const = 0;
  virtual void SetFieldModified() = 0;
  // Tells the data links that the field's value changed. May raise (a link
  // refusing the value); the stream reports that to the application's
  // exception handler through ReportFieldChangeError.
  virtual void NotifyFieldChanged() = 0;
  virtual void ReportFieldChangeError(const std::exception_ptr& error) noexcept = 0;

  // ---- the dataset ----
  // The record buffer of the dataset's current state; empty when there is
  // none (an empty dataset in browse state).
  virtual std::span<std::uint8_t> StateRecordBuffer() = 0;
  // In edit or insert state.
  virtual bool Editing() const = 0;
  // Showing the old values of a record (a field's old value being read).
  virtual bool ShowingOldValues() const = 0;
  // Reads the current record again (the record changed on disk).
  virtual void Refresh() = 0;
  // The engine cursor of the dataset.
  virtual TBlobAccess& Cursor() = 0;
};

}  // namespace dbcomp
