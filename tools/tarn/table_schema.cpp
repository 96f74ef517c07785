#include "tools/tarn/table_schema.h"

#include <stdexcept>

#include "engine/cursor/data_cursor.h"
#include "engine/index/keys.h"
#include "engine/index/text_params_chain.h"
#include "engine/index/tree_context.h"
#include "tools/tarn/field_names.h"
#include "tools/tarn/value_text.h"

namespace tarn_tool {

using namespace tarn;
using nlohmann::json;

namespace {

nlohmann::ordered_json IndexJson(const TIndexDescriptor& d, const TDataCursor& c) {
  nlohmann::ordered_json fields = nlohmann::ordered_json::array();
  nlohmann::ordered_json descending = nlohmann::ordered_json::array();
  for (int i = 0; i < d.FieldCount; ++i) {
    const int n = d.FieldNumbers[static_cast<std::size_t>(i)];
    fields.push_back(n >= 1 && n <= c.FieldCount() ? c.Field(n).FieldName() : std::to_string(n));
    descending.push_back(d.FieldDescending[static_cast<std::size_t>(i)] != 0);
  }
  return nlohmann::ordered_json{{"name", d.IndexName},
          {"fields", fields},
          {"fieldDescending", descending},
          {"descending", d.Descending},
          {"caseInsensitive", d.CaseInsensitive},
          {"unique", d.Unique},
          {"compression", CompressionName(d.Compression)},
          {"noCounts", d.NoCounts}};
}

std::string CharSetBase64(const TCharSet& set) { return Base64Encode(set.Bits()); }

[[noreturn]] void Bad(const std::string& what) { throw std::runtime_error("schema: " + what); }

int FieldNumberOf(const std::vector<TFieldDesc>& fields, const std::string& name) {
  for (const TFieldDesc& f : fields) {
    if (f.FieldName() == name) return f.FieldNo();
  }
  Bad("no field \"" + name + "\" for an index");
}

TKeyCompression CompressionOf(const std::string& name) {
  for (TKeyCompression c : {TKeyCompression::None, TKeyCompression::DupByte, TKeyCompression::TrailByte,
                            TKeyCompression::Full}) {
    if (CompressionName(c) == name) return c;
  }
  Bad("unknown compression \"" + name + "\"");
}

// primary: the index has no name and is always unique.
TIndexDescriptor IndexFromJson(const json& j, const std::vector<TFieldDesc>& fields, bool primary = false) {
  TIndexDescriptor d;
  d.IndexName = primary ? "" : j.value("name", "");
  d.Descending = j.value("descending", false);
  d.CaseInsensitive = j.value("caseInsensitive", false);
  d.Unique = primary || j.value("unique", false);
  d.NoCounts = j.value("noCounts", false);
  d.Compression = CompressionOf(j.value("compression", "NONE"));
  const json& names = j.at("fields");
  if (names.size() > KeyLimits::MaxKeyFields) Bad("an index of more than 16 fields");
  const json descending = j.value("fieldDescending", json::array());
  int keySize = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const int n = FieldNumberOf(fields, names[i].get<std::string>());
    d.FieldNumbers[i] = static_cast<std::int16_t>(n);
    d.FieldDescending[i] = i < descending.size() && descending[i].get<bool>() ? 1 : 0;
    const TFieldDesc& f = fields[static_cast<std::size_t>(n - 1)];
    keySize += KeyFieldSize(f.FieldType(), f.FieldSize()) + 1;
  }
  d.FieldCount = static_cast<std::uint8_t>(names.size());
  d.KeySize = static_cast<std::int16_t>(keySize + (d.Unique ? 0 : KeyLimits::AutoIncSize));
  return d;
}

TCharSet CharSetFrom(const json& j) {
  const std::optional<std::vector<std::uint8_t>> bits = Base64Decode(j.get<std::string>());
  if (!bits || bits->size() != TCharSet::ByteSize) Bad("a character set that is not 32 bytes of base64");
  std::array<std::uint8_t, TCharSet::ByteSize> a{};
  std::copy(bits->begin(), bits->end(), a.begin());
  return TCharSet(a);
}

}  // namespace

nlohmann::ordered_json SchemaOf(TDataCursor& c) {
  using json = nlohmann::ordered_json;
  TDataTable& t = c.Table();
  TDataFile& data = t.DataFile();
  TIndexFile& index = t.IndexFile();
  json fields = json::array();
  for (int n = 1; n <= c.FieldCount(); ++n) {
    const TFieldDesc& f = c.Field(n);
    fields.push_back(json{{"name", f.FieldName()},
                      {"type", f.FieldType()},
                      {"typeName", FieldTypeName(f)},
                      {"subtype", f.FieldSubType()},
                      {"size", f.FieldSize()},
                      {"scale", f.FieldDecimals()},
                      {"required", f.FieldRequired()},
                      {"case", static_cast<int>(f.FieldCharCase())},
                      {"min", f.FieldMin()},
                      {"max", f.FieldMax()},
                      {"default", f.FieldDefault()},
                      {"description", f.FieldDescription()}});
  }
  json indexes = json::array();
  for (int slot = 1; slot <= index.IndexCount(); ++slot) {
    if (!index.Descriptor(slot).Temporary) indexes.push_back(IndexJson(index.Descriptor(slot), c));
  }
  json text = nullptr;
  const TIndexDescriptor& textDesc = index.Descriptor(KeyLimits::TextSlot);
  if (textDesc.FieldCount > 0) {
    TTextIndexParams params = TTextIndexParams::Defaults();
    TFixedTreeContext context(KeyLimits::TextSlot);
    TTextParamsChain(index).Read(context, params);
    text = json{{"fields", IndexJson(textDesc, c)["fields"]},
            {"stopWords", params.StopWords},
            {"separators", CharSetBase64(params.SpaceChars)},
            {"wordChars", CharSetBase64(params.IncludeChars)}};
  }
  return json{{"format", "tarn-dump"},
          {"version", 1},
          {"table", c.TableName()},
          {"language", data.GetLanguageId()},
          {"sort", data.GetSortId()},
          {"blockSize", data.GetBlobBlockSize()},
          {"description", data.GetDescription()},
          {"userVersion", {data.GetUserMajorVersion(), data.GetUserMinorVersion()}},
          {"encrypted", data.IsEncrypted()},
          {"lastAutoInc", data.GetLastAutoInc()},
          {"fields", fields},
          {"primary", index.NoPrimaryIndex() ? json(nullptr) : IndexJson(index.Descriptor(0), c)},
          {"indexes", indexes},
          {"textIndex", text}};
}

TTableDefinition DefinitionFromSchema(const json& schema, const std::string& password) {
  try {
    if (schema.value("format", "") != "tarn-dump") Bad("not a tarn dump header");
    TTableDefinition def;
    def.LanguageId = schema.value<std::int16_t>("language", 0);
    def.SortId = schema.value<std::int16_t>("sort", 0);
    def.BlobBlockSize = schema.value<std::uint16_t>("blockSize", 512);
    def.Description = schema.value("description", "");
    if (schema.contains("userVersion")) {
      def.UserMajorVersion = schema["userVersion"].at(0).get<std::int16_t>();
      def.UserMinorVersion = schema["userVersion"].at(1).get<std::int16_t>();
    }
    def.Encrypted = schema.value("encrypted", false);
    if (def.Encrypted) {
      if (password.empty()) Bad("the table is encrypted: give --password");
      def.Password = password;
    }
    std::uint16_t no = 0;
    for (const json& f : schema.at("fields")) {
      TFieldDesc d = MakeFieldDesc(++no, f.at("name").get<std::string>(), f.at("type").get<std::uint8_t>(),
                                   f.value<std::uint8_t>("subtype", 0), f.value<std::uint8_t>("size", 0),
                                   f.value<std::uint8_t>("scale", 0));
      d.SetFieldRequired(f.value("required", false));
      d.SetFieldCharCase(static_cast<TCharCase>(f.value<std::uint8_t>("case", 0)));
      d.SetFieldMin(f.value("min", ""));
      d.SetFieldMax(f.value("max", ""));
      d.SetFieldDefault(f.value("default", ""));
      d.SetFieldDescription(f.value("description", ""));
      def.Fields.push_back(d);
    }
    if (def.Fields.empty()) Bad("no fields");
    AssignFieldOffsets(def.Fields);
    if (schema.contains("primary") && !schema["primary"].is_null()) {
      def.Primary = IndexFromJson(schema["primary"], def.Fields, true);
    }
    for (const json& i : schema.value("indexes", json::array())) def.Secondary.push_back(IndexFromJson(i, def.Fields));
    if (schema.contains("textIndex") && !schema["textIndex"].is_null()) {
      const json& t = schema["textIndex"];
      TIndexDescriptor text;
      for (const json& name : t.at("fields")) {
        text.FieldNumbers[text.FieldCount++] = static_cast<std::int16_t>(FieldNumberOf(def.Fields, name.get<std::string>()));
      }
      def.TextIndex = text;
      TTextIndexParams params = TTextIndexParams::Defaults();
      if (t.contains("stopWords")) params.StopWords = t["stopWords"].get<std::vector<std::string>>();
      if (t.contains("separators")) params.SpaceChars = CharSetFrom(t["separators"]);
      if (t.contains("wordChars")) params.IncludeChars = CharSetFrom(t["wordChars"]);
      def.TextParams = params;
    }
    return def;
  } catch (const json::exception& e) {
    Bad(e.what());
  }
}

}  // namespace tarn_tool
