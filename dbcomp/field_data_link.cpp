#include "dbcomp/field_data_link.h"

#include "dbcomp/data_set.h"

namespace dbcomp {

TFieldDataLink::TFieldDataLink() = default;

TFieldDataLink::~TFieldDataLink() {
  // Detach here, while the callbacks' owner is still alive.
  OnDataChange = nullptr;
  OnEditingChange = nullptr;
  OnUpdateData = nullptr;
  OnActiveChange = nullptr;
  SetDataSource(nullptr);
}

void TFieldDataLink::SetFieldName(std::string name) {
  if (name == FFieldName) return;
  FFieldName = std::move(name);
  UpdateField();
}

bool TFieldDataLink::CanModify() const {
  return !ReadOnly() && FField != nullptr && FField->CanModify();
}

bool TFieldDataLink::Edit() {
  if (CanModify()) TDataLink::Edit();
  return FLinkEditing;
}

void TFieldDataLink::Reset() { RecordChanged(nullptr); }

void TFieldDataLink::UpdateField() {
  if (Active() && !FFieldName.empty() && DataSet() != nullptr) {
    SetField(nullptr);
    SetField(&DataSet()->FieldByName(FFieldName));
  } else {
    SetField(nullptr);
  }
}

void TFieldDataLink::SetField(TField* field) {
  if (field == FField) return;
  FField = field;
  EditingChanged();
  RecordChanged(nullptr);
}

void TFieldDataLink::ActiveChanged() {
  UpdateField();
  if (OnActiveChange) OnActiveChange();
}

void TFieldDataLink::EditingChanged() {
  bool editing = TDataLink::Editing() && CanModify();
  if (editing == FLinkEditing) return;
  FLinkEditing = editing;
  FModified = false;
  if (OnEditingChange) OnEditingChange();
}

void TFieldDataLink::RecordChanged(TField* field) {
  if (field != nullptr && field != FField) return;
  if (OnDataChange) OnDataChange();
  FModified = false;
}

void TFieldDataLink::LayoutChanged() { UpdateField(); }

void TFieldDataLink::UpdateData() {
  if (!FModified) return;
  if (FField != nullptr && OnUpdateData) OnUpdateData();
  FModified = false;
}

}  // namespace dbcomp
