#include "dbcomp/data_link.h"

#include "dbcomp/data_set.h"
#include "dbcomp/data_source.h"

namespace dbcomp {

namespace {

bool IsEditState(TDataSetState state) {
  return state == TDataSetState::Edit || state == TDataSetState::Insert || state == TDataSetState::SetKey;
}

// Sets a flag for the scope; restores it however the scope is left.
class TFlagScope {
 public:
  explicit TFlagScope(bool& flag) : FFlag(flag), FOld(flag) { flag = true; }
  ~TFlagScope() { FFlag = FOld; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;
 private:
  bool& FFlag;
  bool FOld;
};

}  // namespace

TDataLink::TDataLink() = default;

TDataLink::~TDataLink() {
  if (FDataSource != nullptr) FDataSource->RemoveLink(this);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == FDataSource) return;
  if (FDataSource != nullptr) FDataSource->RemoveLink(this);
  FDataSource = nullptr;
  if (source != nullptr) source->AddLink(this);
  FDataSource = source;
  UpdateState();
}

TDataSet* TDataLink::DataSet() const noexcept {
  return FDataSource != nullptr ? FDataSource->DataSet() : nullptr;
}

void TDataLink::SetReadOnly(bool value) {
  if (FReadOnly == value) return;
  FReadOnly = value;
  UpdateState();
}

bool TDataLink::Edit() {
  if (!FReadOnly && FDataSource != nullptr) FDataSource->Edit();
  return FEditing;
}

void TDataLink::UpdateRecord() {
  TFlagScope updating(FUpdating);
  UpdateData();
}

void TDataLink::UpdateState() {
  TDataSetState state = FDataSource != nullptr ? FDataSource->State() : TDataSetState::Inactive;
  bool active = state != TDataSetState::Inactive;
  if (active != FActive) {
    FActive = active;
    ActiveChanged();
  }
  bool editing = IsEditState(state) && !FReadOnly;
  if (editing != FEditing) {
    FEditing = editing;
    EditingChanged();
  }
}

void TDataLink::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == TDataEvent::UpdateState) {
    UpdateState();
    return;
  }
  if (!FActive) return;
  switch (event) {
    case TDataEvent::FieldChange:
    case TDataEvent::RecordChange:
      if (!FUpdating) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::DataSetChange:
      DataSetChanged();
      break;
    case TDataEvent::DataSetScroll:
      DataSetScrolled(static_cast<int>(info));
      break;
    case TDataEvent::LayoutChange:
      LayoutChanged();
      break;
    case TDataEvent::UpdateRecord:
      UpdateRecord();
      break;
    case TDataEvent::CheckBrowseMode:
      CheckBrowseMode();
      break;
    case TDataEvent::FocusControl:
      FocusControl(reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::UpdateState:
      break;
  }
}

}  // namespace dbcomp
