#include "dbcomp/tarn_query.h"

#include <bit>
#include <cstring>

#include "dbcomp/data_source.h"
#include "dbcomp/database.h"
#include "dbcomp/db_consts.h"
#include "dbcomp/field.h"
#include "dbcomp/session.h"
#include "engine/base/bcd.h"
#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/base/error_codes.h"
#include "engine/base/names.h"
#include "engine/cursor/data_cursor.h"
#include "engine/table/field_types.h"
#include "sql/parameter_block.h"
#include "sql/query_statement.h"

namespace dbcomp {

namespace {

// Longest string passed as a string; longer ones go as memo blobs.
constexpr std::size_t MaxStringParam = 250;
// Scale of a BCD parameter.
constexpr std::uint8_t BcdParamScale = 4;

bool IsStringParam(TFieldType t) {
  return t == TFieldType::String || t == TFieldType::FixedChar || t == TFieldType::WideString;
}

std::string_view TrimTrailingBlanks(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::span<const std::uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

TTarnQuery::TTarnQuery(TComponentOwner* owner) : TTarnDBDataSet(owner), FMasterLink(*this) {}

TTarnQuery::~TTarnQuery() {
  FMasterLink.SetDataSource(nullptr);
  CloseNoThrow();
  FreeStatement();
}

// ----------------------------------------------------------------- text ----

std::string TTarnQuery::SQLText() const {
  std::string text;
  for (std::size_t i = 0; i < FSQL.size(); ++i) {
    if (i > 0) text += '\n';
    text += FSQL[i];
  }
  return text;
}

void TTarnQuery::SetSQLText(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  SetSQL(std::move(lines));
}

void TTarnQuery::SetSQL(std::vector<std::string> lines) {
  if (lines == FSQL) return;
  if (FLoading) {
    FSQL = std::move(lines);
    TParsedSQL parsed = ParseParamMarkers(SQLText());
    FText = std::move(parsed.Text);
    FMarkers = std::move(parsed.Markers);
    return;
  }
  Close();
  FreeStatement();
  FSQL = std::move(lines);
  TextChanged();
}

void TTarnQuery::TextChanged() {
  FStmtData.clear();
  const std::string text = SQLText();
  if (FParamCheck) {
    TParsedSQL parsed = ParseParamMarkers(text);
    TParams params;
    for (const std::string& name : parsed.Markers)
      if (params.FindParam(name) == nullptr) params.CreateParam(TFieldType::Unknown, name);
    params.AssignValues(FParams);
    FParams = std::move(params);
    FText = std::move(parsed.Text);
    FMarkers = std::move(parsed.Markers);
  } else {
    FText = text;
    FMarkers.clear();
  }
  DataEvent(TDataEvent::LayoutChange);
}

// ------------------------------------------------------------- settings ----

void TTarnQuery::SetRequestLive(bool value) {
  FRequestLive = value;
  if (FStatement) FStatement->SetRequestLive(value);
}

void TTarnQuery::SetMaxRowCount(std::int32_t value) {
  if (value == FMaxRowCount) return;
  FMaxRowCount = value;
  if (FStatement) FStatement->SetMaxRowCount(value);
}

void TTarnQuery::SetReadOnly(bool value) {
  CheckInactiveDataSet();
  FReadOnly = value;
}

bool TTarnQuery::InternalCanModify() const {
  return TTarnDBDataSet::InternalCanModify() && !ReadOnly();
}

double TTarnQuery::ExecutionTime() const noexcept {
  return std::bit_cast<double>(std::uint64_t{FExecutionTimeHigh} << 32 | FExecutionTimeLow);
}

bool TTarnQuery::ParamDataStored(const TTarnQuery* ancestor) const {
  if (ancestor != nullptr) return !FParams.IsEqual(ancestor->FParams);
  return FParams.Count() > 0;
}

// --------------------------------------------------------------- master ----

void TTarnQuery::SetDataSource(TDataSource* source) {
  if (source != nullptr) CheckMasterLoop(source);
  FMasterLink.SetDataSource(source);
}

void TTarnQuery::GetDetailLinkFields(std::vector<TField*>& masterFields,
                                     std::vector<TField*>& detailFields) const {
  masterFields.clear();
  detailFields.clear();
  const TDataSet* master = FMasterLink.DataSet();
  if (master == nullptr) return;
  for (std::size_t i = 0; i < FParams.Count(); ++i) {
    TField* masterField = master->FindField(FParams[i].Name());
    TField* detailField = FindField(FParams[i].Name());
    if (masterField == nullptr || detailField == nullptr) continue;
    masterFields.push_back(masterField);
    detailFields.push_back(detailField);
  }
}

void TTarnQuery::SetParamsFromMaster() {
  const TDataSet* master = FMasterLink.DataSet();
  if (master == nullptr || !master->Active()) return;
  for (std::size_t i = 0; i < FParams.Count(); ++i) {
    TParam& param = FParams[i];
    if (param.Bound()) continue;
    if (const TField* field = master->FindField(param.Name())) param.AssignFieldValue(*field);
  }
}

void TTarnQuery::RefreshParams() {
  if (!Active()) return;
  const TDataSet* master = FMasterLink.DataSet();
  if (master == nullptr || !master->Active() || master->State() == TDataSetState::SetKey) return;
  // Bound controls see the new result once, not the closed query between.
  DisableControls();
  try {
    Close();
    Open();
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

void TTarnQuery::TMasterLink::ActiveChanged() {
  if (Active()) FQuery.RefreshParams();
}

void TTarnQuery::TMasterLink::RecordChanged(TField* field) {
  // A field of the master being edited does not re-run the query; a record
  // read again does.
  if (field == nullptr) FQuery.RefreshParams();
}

void TTarnQuery::TMasterLink::CheckBrowseMode() {
  if (FQuery.Active()) FQuery.CheckBrowseMode();
}

// -------------------------------------------------------------- prepare ----

void TTarnQuery::CheckNotOpen() const {
  if (Active()) DatabaseError(Msg::QueryOpen, Name());
}

void TTarnQuery::SetPrepared(bool value) {
  CheckNotOpen();
  if (value == Prepared()) return;
  if (value)
    PrepareStatement();
  else
    FreeStatement();
}

void TTarnQuery::PrepareStatement() {
  if (FStatement) return;
  if (FText.size() < 2) DatabaseError(Msg::NoSQLStatement, Name());
  HoldDatabase(HoldPrepared);
  try {
    TEngineCall call(*this);
    auto statement = std::make_unique<tarn::TQueryStatement>(*Database()->Handle());
    statement->SetRequestLive(FRequestLive);
    statement->SetMaxRowCount(FMaxRowCount);
    statement->SetPasswordCallback(&TTarnSession::PasswordCallback, &DBSession());
    statement->Prepare(FText);
    FStatement = std::move(statement);
  } catch (...) {
    ReleaseDatabase(HoldPrepared);
    throw;
  }
}

void TTarnQuery::FreeStatement() noexcept {
  if (!FStatement) return;
  try {
    TEngineCall call(*this);
    FStatement.reset();
  } catch (...) {
    FStatement.reset();
  }
  ReleaseDatabase(HoldPrepared);
}

// ------------------------------------------------------------ execution ----

tarn::TParameterBlock TTarnQuery::BuildParameterBlock() const {
  tarn::TParameterBlock block;
  // One value per marker; without named markers, the parameters in order.
  std::vector<const TParam*> values;
  if (!FMarkers.empty()) {
    for (const std::string& name : FMarkers) {
      const TParam* param = FParams.FindParam(name);
      if (param == nullptr) DatabaseError(FormatMessage(Msg::NoParameterValue, {name}), Name());
      values.push_back(param);
    }
  } else {
    for (std::size_t i = 0; i < FParams.Count(); ++i) values.push_back(&FParams[i]);
  }
  for (const TParam* param : values) {
    const std::string& name = param->Name();
    const TFieldType type = param->DataType();
    const std::optional<TEngineFieldType> engine = EngineFieldTypeOf(type);
    if (!engine) DatabaseError(FormatMessage(Msg::NoParameterValue, {name}), Name());
    if (IsStringParam(type)) {
      const std::string text = param->IsNull() ? std::string() : param->AsString();
      const std::string_view trimmed = TrimTrailingBlanks(text);
      const std::optional<std::span<const std::uint8_t>> value =
          trimmed.empty() ? std::nullopt : std::optional(BytesOf(trimmed));
      if (trimmed.size() > MaxStringParam)
        block.AddBlob(name, tarn::FieldSubType::Memo, value);
      else
        block.AddValue(name, tarn::FieldType::String, static_cast<std::uint8_t>(trimmed.size() + 1),
                       0, value);
      continue;
    }
    const std::vector<std::uint8_t> raw =
        param->IsNull() ? std::vector<std::uint8_t>() : param->AsBytes();
    const std::optional<std::span<const std::uint8_t>> rawValue =
        param->IsNull() ? std::nullopt : std::optional(std::span<const std::uint8_t>(raw));
    if (IsBlobType(type) || ((type == TFieldType::Bytes || type == TFieldType::VarBytes) &&
                             raw.size() > MaxStringParam)) {
      // Bytes too long for a record value travel as a plain blob.
      block.AddBlob(name, IsBlobType(type) ? engine->SubType : std::uint8_t{0}, rawValue);
      continue;
    }
    if (type == TFieldType::Bytes || type == TFieldType::VarBytes) {
      block.AddValue(name, engine->Type, static_cast<std::uint8_t>(raw.size()), 0, rawValue);
      continue;
    }
    std::uint8_t value[tarn::TBcd::StoredSize] = {};
    const std::span<std::uint8_t> out(value);
    std::size_t size = 0;
    std::uint8_t decimals = 0;
    switch (engine->Type) {
      case tarn::FieldType::Boolean:
      case tarn::FieldType::Int16:
      case tarn::FieldType::UInt16:
        tarn::PutLE16(out, 0, static_cast<std::uint16_t>(param->AsLargeInt()));
        size = 2;
        break;
      case tarn::FieldType::Int32:
      case tarn::FieldType::Date:
      case tarn::FieldType::Time:
        tarn::PutLEI32(out, 0, static_cast<std::int32_t>(param->AsLargeInt()));
        size = 4;
        break;
      case tarn::FieldType::Int64:
        tarn::PutLEI64(out, 0, param->AsLargeInt());
        size = 8;
        break;
      case tarn::FieldType::Float:
        tarn::PutLEDouble(out, 0, param->AsFloat());
        size = 8;
        break;
      case tarn::FieldType::Timestamp:
        // The engine keeps the same millisecond count as a double.
        tarn::PutLEDouble(out, 0, static_cast<double>(param->AsLargeInt()));
        size = 8;
        break;
      case tarn::FieldType::Bcd: {
        decimals = BcdParamScale;
        size = tarn::TBcd::StoredSize;
        if (param->IsNull()) break;
        const std::string text = param->AsString();
        const std::optional<tarn::TBcd> bcd = tarn::BcdFromText(text, BcdParamScale);
        if (!bcd) DatabaseError(FormatMessage(Msg::InvalidBcdValue, {text}), Name());
        bcd->Store(out);
        break;
      }
      default:
        // ADT, arrays, references and datasets carry no value bytes.
        break;
    }
    const std::optional<std::span<const std::uint8_t>> fixed =
        param->IsNull() ? std::nullopt
                        : std::optional(std::span<const std::uint8_t>(out.first(size)));
    block.AddValue(name, engine->Type, static_cast<std::uint8_t>(size), decimals, fixed);
  }
  return block;
}

tarn::TDataCursor* TTarnQuery::ExecuteStatement() {
  const tarn::TParameterBlock block = BuildParameterBlock();
  TEngineCall call(*this);
  if (OnQueryProgress) {
    FStatement->SetProgressCallback([this](int percent) {
      bool abortQuery = false;
      OnQueryProgress(*this, percent, abortQuery);
      return abortQuery;
    });
  } else {
    FStatement->SetProgressCallback(nullptr);
  }
  tarn::TDataCursor* cursor = nullptr;
  try {
    cursor = FStatement->Execute(block.Count(), block.Descriptors(), block.Data());
  } catch (const tarn::ETarnEngineError& e) {
    if (e.ErrorCode() == tarn::TARN_SQLPARSE) FreeStatement();
    throw;
  }
  FRowsAffected = FStatement->RowsAffected();
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(FStatement->ExecutionTime());
  FExecutionTimeLow = static_cast<std::uint32_t>(bits);
  FExecutionTimeHigh = static_cast<std::uint32_t>(bits >> 32);
  return cursor;
}

tarn::TDataCursor* TTarnQuery::OpenHandle() {
  FKeepPrepared = false;
  if (FSQL.empty()) DatabaseError(Msg::NoSQLStatement, Name());
  PrepareStatement();
  try {
    SetParamsFromMaster();
    tarn::TDataCursor* cursor = ExecuteStatement();
    FResultReadOnly = cursor != nullptr && cursor->ReadOnly();
    return cursor;
  } catch (...) {
    // The statement stays prepared, unless the SQL error already freed it.
    // The flag holds until the next open: the failed open closes the
    // dataset more than once on its way out.
    FKeepPrepared = FStatement != nullptr;
    throw;
  }
}

void TTarnQuery::InternalClose() noexcept {
  TTarnDBDataSet::InternalClose();
  FResultReadOnly = false;
  if (!FKeepPrepared) FreeStatement();
}

void TTarnQuery::ExecSQL() {
  CheckNotOpen();
  if (FSQL.empty()) DatabaseError(Msg::NoSQLStatement, Name());
  PrepareStatement();
  SetParamsFromMaster();
  static_cast<void>(ExecuteStatement());
}

void TTarnQuery::Disconnect() {
  Close();
  FreeStatement();
}

void TTarnQuery::CloseQuietly() noexcept {
  CloseNoThrow();
  FreeStatement();
}

}  // namespace dbcomp
