#pragma once
// The data link of a single-field control (an edit, a radio group, a
// rich-text view). It finds its field by name whenever the dataset opens or
// its fields change, and reports to the control through callbacks:
//   OnDataChange    the field's value may have changed: reload the control
//   OnEditingChange Editing() changed
//   OnUpdateData    write the control's pending value into Field()
//   OnActiveChange  the dataset opened or closed
// The control asks for edit mode with Edit() before it changes its value, and
// calls MarkModified() when it holds a value not yet written; the value is
// written (OnUpdateData) when the dataset posts or leaves edit mode.

#include <functional>
#include <string>

#include "dbcomp/data_link.h"

namespace dbcomp {

class TFieldDataLink : public TDataLink {
 public:
  TFieldDataLink();
  ~TFieldDataLink() override;

  const std::string& FieldName() const noexcept { return FFieldName; }
  void SetFieldName(std::string name);
  // The bound field; null while inactive or when the name is empty. Raises
  // "Field '%s' not found" when the open dataset lacks the named field.
  TField* Field() const noexcept { return FField; }
  // The link is not read-only and the bound field can be modified.
  bool CanModify() const;
  // The dataset is in an editing state and CanModify().
  bool Editing() const noexcept { return FLinkEditing; }
  // Puts the dataset into edit state when possible; answers whether the
  // control may now change its value.
  bool Edit() override;
  // The control holds a value not yet written into the field.
  void MarkModified() noexcept { FModified = true; }
  bool IsModified() const noexcept { return FModified; }
  // Reloads the control from the field and forgets a pending value.
  void Reset();

  std::function<void()> OnDataChange;
  std::function<void()> OnEditingChange;
  std::function<void()> OnUpdateData;
  std::function<void()> OnActiveChange;

 protected:
  void ActiveChanged() override;
  void EditingChanged() override;
  void RecordChanged(TField* field) override;
  void LayoutChanged() override;
  void UpdateData() override;

 private:
  void UpdateField();
  void SetField(TField* field);
  std::string FFieldName;
  TField* FField = nullptr;
  bool FModified = false;
  bool FLinkEditing = false;
};

}  // namespace dbcomp
