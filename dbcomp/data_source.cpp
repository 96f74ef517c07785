#include "dbcomp/data_source.h"

#include <algorithm>

#include "dbcomp/data_set.h"

namespace dbcomp {

TDataSource::TDataSource() : FState(TDataSetState::Inactive) {}

TDataSource::TDataSource(TDataSet* dataSet) : TDataSource() { SetDataSet(dataSet); }

TDataSource::~TDataSource() {
  OnStateChange = nullptr;
  OnDataChange = nullptr;
  OnUpdateData = nullptr;
  if (FDataSet != nullptr) FDataSet->RemoveDataSource(this);
  FDataSet = nullptr;
  FState = TDataSetState::Inactive;
  std::vector<TDataLink*> links;
  links.swap(FLinks);
  for (TDataLink* link : links) {
    link->FDataSource = nullptr;
    try {
      link->UpdateState();
    } catch (...) {
      // A control that fails while losing its source keeps its last view.
    }
  }
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == FDataSet) return;
  if (FDataSet != nullptr) {
    // The links see the old dataset go before they see the new one.
    FDataSet->RemoveDataSource(this);
    FDataSet = nullptr;
    DataEvent(TDataEvent::UpdateState, 0);
  }
  FDataSet = dataSet;
  if (dataSet != nullptr) dataSet->AddDataSource(this);
  DataEvent(TDataEvent::UpdateState, 0);
}

void TDataSource::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  DataEvent(TDataEvent::UpdateState, 0);
}

TDataSetState TDataSource::State() const noexcept {
  return FEnabled && FDataSet != nullptr ? FDataSet->State() : TDataSetState::Inactive;
}

void TDataSource::Edit() {
  if (FAutoEdit && State() == TDataSetState::Browse) FDataSet->Edit();
}

void TDataSource::AddLink(TDataLink* link) {
  if (std::find(FLinks.begin(), FLinks.end(), link) == FLinks.end()) FLinks.push_back(link);
}

void TDataSource::RemoveLink(TDataLink* link) noexcept {
  FLinks.erase(std::remove(FLinks.begin(), FLinks.end(), link), FLinks.end());
}

void TDataSource::NotifyLinks(TDataEvent event, std::intptr_t info) {
  const std::vector<TDataLink*> snapshot = FLinks;
  for (TDataLink* link : snapshot) {
    if (std::find(FLinks.begin(), FLinks.end(), link) == FLinks.end()) continue;  // removed meanwhile
    link->DataEvent(event, info);
  }
}

void TDataSource::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == TDataEvent::UpdateState) {
    TDataSetState state = State();
    if (state == FState) return;
    FState = state;
    NotifyLinks(TDataEvent::UpdateState, 0);
    if (OnStateChange) OnStateChange();
    return;
  }
  if (FState == TDataSetState::Inactive) return;
  NotifyLinks(event, info);
  switch (event) {
    case TDataEvent::FieldChange:
    case TDataEvent::RecordChange:
    case TDataEvent::DataSetChange:
    case TDataEvent::DataSetScroll:
    case TDataEvent::LayoutChange:
      if (OnDataChange)
        OnDataChange(event == TDataEvent::FieldChange || event == TDataEvent::RecordChange
                         ? reinterpret_cast<TField*>(info)
                         : nullptr);
      break;
    case TDataEvent::UpdateRecord:
      if (OnUpdateData) OnUpdateData();
      break;
    default:
      break;
  }
}

}  // namespace dbcomp
