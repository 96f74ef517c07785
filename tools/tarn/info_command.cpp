// tarn info DIR TABLE: the structure and state of one table.

#include <CLI/CLI.hpp>

#include <iostream>
#include <sstream>

#include "engine/cursor/data_cursor.h"
#include "engine/index/index_file.h"
#include "engine/index/language_drivers.h"
#include "engine/index/text_params_chain.h"
#include "engine/index/tree_context.h"
#include "engine/session/data_table.h"
#include "tools/tarn/commands.h"
#include "tools/tarn/field_names.h"
#include "tools/tarn/tool_context.h"

namespace tarn_tool {

using namespace tarn;

void TInfoCommand::Register(CLI::App& app, TCommonOptions& common) {
  app.add_option("DIR", Dir, "Directory of the table")->required();
  app.add_option("TABLE", Table, "Table name (without extension)")->required();
  app.add_option("--password", common.Password, "Password of an encrypted table");
}

namespace {

std::string IndexFields(const TIndexDescriptor& d, const TDataCursor& c) {
  std::string s = "(";
  for (int i = 0; i < d.FieldCount; ++i) {
    const int n = d.FieldNumbers[static_cast<std::size_t>(i)];
    if (i > 0) s += ", ";
    s += n >= 1 && n <= c.FieldCount() ? c.Field(n).FieldName() : "#" + std::to_string(n);
    if (d.FieldDescending[static_cast<std::size_t>(i)] != 0) s += " DESC";
  }
  return s + ")";
}

std::string IndexOptions(const TIndexDescriptor& d) {
  std::string s;
  if (d.Unique) s += " unique";
  if (d.Descending) s += " descending";
  if (d.CaseInsensitive) s += " case-insensitive";
  if (d.NoCounts) s += " no-counts";
  s += " compression " + CompressionName(d.Compression);
  s += ", key " + std::to_string(d.KeySize) + " bytes";
  return s;
}

void PrintFile(std::ostream& out, const char* label, TFileHandler& file, std::int32_t changeCount, bool mark) {
  const std::string& path = file.FileName();
  const std::size_t slash = path.find_last_of("/\\");
  out << "  " << label << (slash == std::string::npos ? path : path.substr(slash + 1)) << ": " << file.GetFileSize() << " bytes, change counter "
      << changeCount << (mark ? ", INTERRUPTED WRITE MARK" : "") << "\n";
}

}  // namespace

int TInfoCommand::Run(const TCommonOptions& common) const {
  TToolContext context(Dir, common.Password);
  auto cursor = context.OpenTable(Table, true);
  TDataCursor& c = *cursor;
  TDataTable& t = c.Table();
  TTableReadBracket lock(t);
  TDataFile& data = t.DataFile();
  TIndexFile& index = t.IndexFile();
  std::ostream& out = std::cout;

  out << "Table: " << c.TableName() << "\n";
  out << "Directory: " << Dir << "\n";
  out << "Format: data version " << static_cast<int>(data.Header().Version()) << ", index version "
      << static_cast<int>(index.Version()) << "\n";
  const std::int32_t slots = data.GetPhysicalRecordCount();
  out << "Records: " << index.RecordCount() << " (" << slots << " slots), record size " << data.GetRecordSize()
      << " bytes\n";
  const std::string language = LanguageNameById(static_cast<std::uint16_t>(data.GetLanguageId()));
  const auto sorts = SortOrderNames(static_cast<std::uint16_t>(data.GetLanguageId()));
  const auto sortId = static_cast<std::size_t>(data.GetSortId());
  out << "Language: " << data.GetLanguageId() << " " << (language.empty() ? "(unknown)" : language) << ", sort "
      << data.GetSortId() << " " << (sortId < sorts.size() ? sorts[sortId] : "(unknown)") << "\n";
  out << "Encrypted: " << (data.IsEncrypted() ? "yes" : "no") << "\n";
  out << "Description: " << data.GetDescription() << "\n";
  out << "User version: " << data.GetUserMajorVersion() << "." << data.GetUserMinorVersion() << "\n";
  out << "Last auto-increment: " << data.GetLastAutoInc() << "\n";
  if (t.HasBlobFields()) out << "Blob block size: " << data.GetBlobBlockSize() << " bytes\n";
  out << "Files:\n";
  PrintFile(out, "data  ", data, data.GetChangeCount(), data.WriteInProgress());
  PrintFile(out, "index ", index, index.ChangeCount(), index.WriteInProgress());
  if (t.HasBlobFields()) {
    TBlobFile& blob = t.BlobFile();
    PrintFile(out, "blob  ", blob, blob.Header().BlobChangeCount, blob.Header().WriteInProgress);
  }

  out << "Fields:\n";
  for (int n = 1; n <= c.FieldCount(); ++n) {
    const TFieldDesc& f = c.Field(n);
    out << "  " << n << " " << f.FieldName() << " " << FieldTypeName(f);
    if (f.FieldSize() != 0) out << "(" << static_cast<int>(f.FieldSize()) << ")";
    if (f.FieldDecimals() != 0) out << " scale " << static_cast<int>(f.FieldDecimals());
    if (f.FieldRequired()) out << " required";
    if (f.FieldCharCase() == TCharCase::Upper) out << " upper-case";
    if (f.FieldCharCase() == TCharCase::Lower) out << " lower-case";
    if (!f.FieldMin().empty()) out << " min " << f.FieldMin();
    if (!f.FieldMax().empty()) out << " max " << f.FieldMax();
    if (!f.FieldDefault().empty()) out << " default " << f.FieldDefault();
    if (f.FieldComputed()) out << " computed";
    out << "\n";
  }

  out << "Indexes:\n";
  if (index.NoPrimaryIndex()) {
    out << "  primary: none (natural order)\n";
  } else {
    const TIndexDescriptor& d = index.Descriptor(0);
    out << "  primary " << IndexFields(d, c) << IndexOptions(d) << "\n";
  }
  for (int slot = 1; slot <= index.IndexCount(); ++slot) {
    const TIndexDescriptor& d = index.Descriptor(slot);
    out << "  " << d.IndexName << " " << IndexFields(d, c) << IndexOptions(d) << "\n";
  }
  const TIndexDescriptor& text = index.Descriptor(KeyLimits::TextSlot);
  if (text.FieldCount > 0) {
    TTextIndexParams params = TTextIndexParams::Defaults();
    TFixedTreeContext ctx(KeyLimits::TextSlot);
    const bool stored = TTextParamsChain(index).Read(ctx, params);
    out << "Full-text index " << IndexFields(text, c) << (stored ? "" : " (default parameters)") << "\n";
    out << "  stop words (" << params.StopWords.size() << "):";
    for (const std::string& w : params.StopWords) out << " " << w;
    out << "\n  separators: " << CharSetText(params.SpaceChars) << "\n";
    out << "  word characters: " << CharSetText(params.IncludeChars) << "\n";
  } else {
    out << "Full-text index: none\n";
  }
  return ExitOk;
}

}  // namespace tarn_tool
