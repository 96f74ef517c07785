#include "engine/index/language_drivers.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "engine/base/names.h"

namespace tarn {

namespace {

constexpr std::uint16_t Lang(std::uint16_t primary, std::uint16_t sub) {
  return MakeLanguageId(primary, sub);
}

constexpr std::array<TLanguageEntry, LanguageCount> Languages{{
    {"ANSI Standard", Lang(0, 0), "", 1252},
    {"Afrikaans", Lang(54, 1), "af_ZA", 1252},
    {"Albanian", Lang(28, 1), "sq_AL", 1250},
    {"Arabic (Saudi Arabia)", Lang(1, 1), "ar_SA", 1256},
    {"Arabic (Iraq)", Lang(1, 2), "ar_IQ", 1256},
    {"Arabic (Egypt)", Lang(1, 3), "ar_EG", 1256},
    {"Arabic (Libya)", Lang(1, 4), "ar_LY", 1256},
    {"Arabic (Algeria)", Lang(1, 5), "ar_DZ", 1256},
    {"Arabic (Morocco)", Lang(1, 6), "ar_MA", 1256},
    {"Arabic (Tunisia)", Lang(1, 7), "ar_TN", 1256},
    {"Arabic (Oman)", Lang(1, 8), "ar_OM", 1256},
    {"Arabic (Yemen)", Lang(1, 9), "ar_YE", 1256},
    {"Arabic (Syria)", Lang(1, 10), "ar_SY", 1256},
    {"Arabic (Jordan)", Lang(1, 11), "ar_JO", 1256},
    {"Arabic (Lebanon)", Lang(1, 12), "ar_LB", 1256},
    {"Arabic (Kuwait)", Lang(1, 13), "ar_KW", 1256},
    {"Arabic (U.A.E)", Lang(1, 14), "ar_AE", 1256},
    {"Arabic (Bahrain)", Lang(1, 15), "ar_BH", 1256},
    {"Arabic (Qatar)", Lang(1, 16), "ar_QA", 1256},
    {"Basque", Lang(45, 1), "eu_ES", 1252},
    {"Belarusian", Lang(35, 1), "be_BY", 1251},
    {"Bulgarian", Lang(2, 1), "bg_BG", 1251},
    {"Catalan", Lang(3, 1), "ca_ES", 1252},
    {"Croatian", Lang(26, 1), "hr_HR", 1250},
    {"Czech", Lang(5, 1), "cs_CZ", 1250},
    {"Danish", Lang(6, 1), "da_DK", 1252},
    {"Dutch (Standard)", Lang(19, 1), "nl_NL", 1252},
    {"Dutch (Belgian)", Lang(19, 2), "nl_BE", 1252},
    {"English (USA)", Lang(9, 1), "en_US", 1252},
    {"English (UK)", Lang(9, 2), "en_GB", 1252},
    {"English (Australian)", Lang(9, 3), "en_AU", 1252},
    {"English (Canadian)", Lang(9, 4), "en_CA", 1252},
    {"English (New Zealand)", Lang(9, 5), "en_NZ", 1252},
    {"English (Irish)", Lang(9, 6), "en_IE", 1252},
    {"English (South Africa)", Lang(9, 7), "en_ZA", 1252},
    {"English (Jamaica)", Lang(9, 8), "en_JM", 1252},
    {"English (Caribbean)", Lang(9, 9), "en_029", 1252},
    {"English (Belize)", Lang(9, 10), "en_BZ", 1252},
    {"English (Trinidad)", Lang(9, 11), "en_TT", 1252},
    {"Estonian", Lang(37, 1), "et_EE", 1257},
    {"Faeroese", Lang(56, 1), "fo_FO", 1252},
    {"Farsi", Lang(41, 1), "fa_IR", 1256},
    {"Finnish", Lang(11, 1), "fi_FI", 1252},
    {"French (Standard)", Lang(12, 1), "fr_FR", 1252},
    {"French (Belgian)", Lang(12, 2), "fr_BE", 1252},
    {"French (Canadian)", Lang(12, 3), "fr_CA", 1252},
    {"French (Swiss)", Lang(12, 4), "fr_CH", 1252},
    {"French (Luxembourg)", Lang(12, 5), "fr_LU", 1252},
    {"German (Standard)", Lang(7, 1), "de_DE", 1252},
    {"German (Swiss)", Lang(7, 2), "de_CH", 1252},
    {"German (Austrian)", Lang(7, 3), "de_AT", 1252},
    {"German (Luxembourg)", Lang(7, 4), "de_LU", 1252},
    {"German (Liechtenstein)", Lang(7, 5), "de_LI", 1252},
    {"Greek", Lang(8, 1), "el_GR", 1253},
    {"Hebrew", Lang(13, 1), "he_IL", 1255},
    {"Hungarian", Lang(14, 1), "hu_HU", 1250},
    {"Icelandic", Lang(15, 1), "is_IS", 1252},
    {"Indonesian", Lang(33, 1), "id_ID", 1252},
    {"Italian (Standard)", Lang(16, 1), "it_IT", 1252},
    {"Italian (Swiss)", Lang(16, 2), "it_CH", 1252},
    {"Latvian", Lang(38, 1), "lv_LV", 1257},
    {"Lithuanian", Lang(39, 1), "lt_LT", 1257},
    {"Norwegian (Bokmal)", Lang(20, 1), "nb_NO", 1252},
    {"Norwegian (Nynorsk)", Lang(20, 2), "nn_NO", 1252},
    {"Polish", Lang(21, 1), "pl_PL", 1250},
    {"Portuguese (Standard)", Lang(22, 2), "pt_PT", 1252},
    {"Portuguese (Brazilian)", Lang(22, 1), "pt_BR", 1252},
    {"Romanian", Lang(24, 1), "ro_RO", 1250},
    {"Russian", Lang(25, 1), "ru_RU", 1251},
    {"Serbian (Latin)", Lang(26, 2), "sr_Latn_RS", 1250},
    {"Serbian (Cyrillic)", Lang(26, 3), "sr_Cyrl_RS", 1251},
    {"Slovak", Lang(27, 1), "sk_SK", 1250},
    {"Slovenian", Lang(36, 1), "sl_SI", 1250},
    {"Spanish (Castilian)", Lang(10, 1), "es_ES@collation=traditional", 1252},
    {"Spanish (Mexican)", Lang(10, 2), "es_MX", 1252},
    {"Spanish (Modern)", Lang(10, 3), "es_ES", 1252},
    {"Spanish (Guatemala)", Lang(10, 4), "es_GT", 1252},
    {"Spanish (Costa Rica)", Lang(10, 5), "es_CR", 1252},
    {"Spanish (Panama)", Lang(10, 6), "es_PA", 1252},
    {"Spanish (Dominican Republic)", Lang(10, 7), "es_DO", 1252},
    {"Spanish (Venezuela)", Lang(10, 8), "es_VE", 1252},
    {"Spanish (Colombia)", Lang(10, 9), "es_CO", 1252},
    {"Spanish (Peru)", Lang(10, 10), "es_PE", 1252},
    {"Spanish (Argentina)", Lang(10, 11), "es_AR", 1252},
    {"Spanish (Ecuador)", Lang(10, 12), "es_EC", 1252},
    {"Spanish (Chile)", Lang(10, 13), "es_CL", 1252},
    {"Spanish (Uruguay)", Lang(10, 14), "es_UY", 1252},
    {"Spanish (Paraguay)", Lang(10, 15), "es_PY", 1252},
    {"Spanish (Bolivia)", Lang(10, 16), "es_BO", 1252},
    {"Spanish (El Salvador)", Lang(10, 17), "es_SV", 1252},
    {"Spanish (Honduras)", Lang(10, 18), "es_HN", 1252},
    {"Spanish (Nicaragua)", Lang(10, 19), "es_NI", 1252},
    {"Spanish (Puerto Rico)", Lang(10, 20), "es_PR", 1252},
    {"Swedish (Standard)", Lang(29, 1), "sv_SE", 1252},
    {"Swedish (Finland)", Lang(29, 2), "sv_FI", 1252},
    {"Thai", Lang(30, 1), "th_TH", 874},
    {"Turkish", Lang(31, 1), "tr_TR", 1254},
    {"Ukranian", Lang(34, 1), "uk_UA", 1251},
    {"Vietnamese", Lang(42, 1), "vi_VN", 1258},
}};

constexpr std::array<const char*, 2> SortOrders{"Default Order", "German Phone Book Order"};

constexpr std::uint16_t GermanPrimary = 7;

bool IsGerman(std::uint16_t languageId) {
  return (languageId & 0x3FF) == GermanPrimary && FindLanguage(languageId) != nullptr;
}

}  // namespace

std::span<const TLanguageEntry, LanguageCount> LanguageNames() { return Languages; }

const TLanguageEntry* FindLanguage(std::uint16_t languageId) {
  for (const TLanguageEntry& entry : Languages) {
    if (entry.LanguageId == languageId) return &entry;
  }
  return nullptr;
}

std::int32_t LanguageIdByName(std::string_view name) {
  for (const TLanguageEntry& entry : Languages) {
    if (SameText(entry.Name, name)) return entry.LanguageId;
  }
  return -1;
}

std::string LanguageNameById(std::uint16_t languageId) {
  const TLanguageEntry* entry = FindLanguage(languageId);
  return entry != nullptr ? entry->Name : "";
}

std::span<const char* const> SortOrderNames(std::uint16_t languageId) {
  if (FindLanguage(languageId) == nullptr) return {};
  return std::span<const char* const>(SortOrders).first(IsGerman(languageId) ? 2 : 1);
}

bool IsSortOrderOf(std::uint16_t languageId, std::string_view name) {
  return SortIdByName(languageId, name) >= 0;
}

std::int32_t SortIdByName(std::uint16_t languageId, std::string_view name) {
  std::span<const char* const> names = SortOrderNames(languageId);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (SameText(names[i], name)) return static_cast<std::int32_t>(i);
  }
  return -1;
}

bool IsKnownLanguage(std::uint16_t languageId, std::uint16_t sortId) {
  return sortId < SortOrderNames(languageId).size();
}

std::string IcuLocaleName(std::uint16_t languageId, std::uint16_t sortId) {
  if (languageId == 0 || !IsKnownLanguage(languageId, sortId)) return "";
  std::string locale = FindLanguage(languageId)->IcuLocale;
  if (sortId == PhoneBookSortId) locale += "@collation=phonebook";
  return locale;
}

std::uint16_t LanguageCodePage(std::uint16_t languageId) {
  const TLanguageEntry* entry = FindLanguage(languageId);
  return entry != nullptr ? entry->CodePage : 0;
}

}  // namespace tarn
