#include "widgets/field_link.h"

#include "dbcomp/data_source.h"
#include "dbcomp/field_data_link.h"

namespace widgets {

TFieldLink::TFieldLink(QObject* parent)
    : QObject(parent), FLink(std::make_unique<dbcomp::TFieldDataLink>()) {
  FLink->OnDataChange = [this] { Q_EMIT DataChanged(); };
  FLink->OnEditingChange = [this] { Q_EMIT EditingChanged(); };
  FLink->OnActiveChange = [this] { Q_EMIT ActiveChanged(); };
  FLink->OnUpdateData = [this] {
    if (OnUpdateData) OnUpdateData();
  };
}

TFieldLink::~TFieldLink() {
  // No signal may leave a half-destroyed object: silence the link first.
  FLink->OnDataChange = nullptr;
  FLink->OnEditingChange = nullptr;
  FLink->OnActiveChange = nullptr;
  FLink->OnUpdateData = nullptr;
  FLink.reset();
}

dbcomp::TDataSource* TFieldLink::DataSource() const noexcept { return FLink->DataSource(); }
void TFieldLink::SetDataSource(dbcomp::TDataSource* source) { FLink->SetDataSource(source); }
const std::string& TFieldLink::FieldName() const noexcept { return FLink->FieldName(); }
void TFieldLink::SetFieldName(std::string name) { FLink->SetFieldName(std::move(name)); }
dbcomp::TField* TFieldLink::Field() const noexcept { return FLink->Field(); }
bool TFieldLink::Active() const noexcept { return FLink->Active(); }
bool TFieldLink::Editing() const noexcept { return FLink->Editing(); }
bool TFieldLink::ReadOnly() const noexcept { return FLink->ReadOnly(); }
void TFieldLink::SetReadOnly(bool value) { FLink->SetReadOnly(value); }
bool TFieldLink::Edit() { return FLink->Edit(); }
void TFieldLink::MarkModified() noexcept { FLink->MarkModified(); }
bool TFieldLink::IsModified() const noexcept { return FLink->IsModified(); }

}  // namespace widgets
