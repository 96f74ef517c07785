// CompareKeys over realistic keys: a non-unique index on (string 30, int32),
// with and without a table language, plus the internal "Sys Text" keys.

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/index/keys.h"
#include "engine/index/language_drivers.h"
#include "engine/table/field_types.h"

namespace {

using tarn::TKeyDef;

constexpr std::size_t KeyCount = 1024;

TKeyDef Def(std::uint16_t lang) {
  TKeyDef def;
  def.Slot = 1;
  def.Unique = false;
  def.LanguageId = lang;
  def.FieldCount = 2;
  def.Fields[0] = {tarn::FieldType::String, 30, 9, true};
  def.Fields[1] = {tarn::FieldType::Int32, 0, 40, true};
  def.KeySize = tarn::ComputeKeySize(def);
  return def;
}

// Keys of words sharing long prefixes, so comparisons go deep into the string.
std::vector<std::vector<std::uint8_t>> Keys(const TKeyDef& def) {
  std::mt19937 rng(7);
  const char* stems[] = {"Mueller", "M\xFCller", "Schmidt", "Schneider", "Fischer", "Weber"};
  std::vector<std::vector<std::uint8_t>> keys;
  for (std::size_t i = 0; i < KeyCount; ++i) {
    std::vector<std::uint8_t> record(45, 0);
    std::string name = std::string(stems[rng() % 6]) + " " + std::to_string(rng() % 1000);
    record[9] = 1;
    std::memcpy(record.data() + 10, name.data(), name.size());
    record[40] = 1;
    tarn::PutLEI32(record, 41, static_cast<std::int32_t>(rng() % 100));
    tarn::PutLEI32(record, 5, static_cast<std::int32_t>(i));
    std::vector<std::uint8_t> key(def.KeySize);
    tarn::BuildKey(def, record, key);
    keys.push_back(std::move(key));
  }
  return keys;
}

void Run(benchmark::State& state, const TKeyDef& def) {
  const auto keys = Keys(def);
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& a = keys[i % KeyCount];
    const auto& b = keys[(i * 7 + 3) % KeyCount];
    benchmark::DoNotOptimize(tarn::CompareKeys(def, a.data(), b.data(), def.KeySize));
    ++i;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_CompareKeysNoLanguage(benchmark::State& state) { Run(state, Def(0)); }
void BM_CompareKeysEnglish(benchmark::State& state) { Run(state, Def(tarn::MakeLanguageId(9, 1))); }
void BM_CompareKeysGermanPhoneBook(benchmark::State& state) {
  TKeyDef def = Def(tarn::MakeLanguageId(7, 1));
  def.SortId = tarn::PhoneBookSortId;
  Run(state, def);
}

void BM_CompareTextKeys(benchmark::State& state) {
  const TKeyDef def = tarn::MakeTextKeyDef(static_cast<std::uint16_t>(state.range(0)), 0);
  std::vector<std::vector<std::uint8_t>> keys;
  std::mt19937 rng(11);
  for (std::size_t i = 0; i < KeyCount; ++i) {
    const std::string word = "WORD" + std::to_string(rng() % 500);
    std::vector<std::uint8_t> key(tarn::KeyLimits::TextKeySize);
    tarn::BuildTextKey(1,
                       std::span(reinterpret_cast<const std::uint8_t*>(word.data()), word.size()),
                       static_cast<std::int32_t>(i), def.LanguageId, 0, key);
    keys.push_back(std::move(key));
  }
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tarn::CompareKeys(def, keys[i % KeyCount].data(),
                                               keys[(i * 7 + 3) % KeyCount].data(),
                                               tarn::KeyLimits::TextKeySize));
    ++i;
  }
}

}  // namespace

BENCHMARK(BM_CompareKeysNoLanguage);
BENCHMARK(BM_CompareKeysEnglish);
BENCHMARK(BM_CompareKeysGermanPhoneBook);
BENCHMARK(BM_CompareTextKeys)->Arg(0)->Arg(1033);
