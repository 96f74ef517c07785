#include "sql/sql_select.h"

#include <algorithm>
#include <numeric>
#include <optional>

#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/base/names.h"
#include "engine/cursor/data_cursor.h"
#include "engine/index/keys.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"
#include "expr/exp_cast.h"
#include "expr/exp_token_stack.h"
#include "expr/expression_evaluator.h"
#include "sql/external_sort.h"
#include "sql/sql_result_table.h"
#include "sql/sql_row.h"

namespace tarn {

namespace {

[[noreturn]] void Fail(const std::string& message) {
  RaiseEngineError(TARN_SQLPARSE, {.Message = message});
}

bool HasAggregate(TExpToken& root) {
  bool found = false;
  ForEachNode(root, [&](TExpToken& n) { found = found || n.Kind == TExpTokenKind::Aggregate; });
  return found;
}
bool HasColumn(TExpToken& root) {
  bool found = false;
  ForEachNode(root, [&](TExpToken& n) { found = found || n.Kind == TExpTokenKind::Column; });
  return found;
}

// Sorts the rows of a result with the columns given: in memory when they
// fit the record cache or the result table is in memory (INTO MEMORY, whose
// runs would be kept in memory as well), otherwise through run files.
void SortResult(const TSqlRunContext& context, const std::vector<TResultColumn>& columns,
                std::vector<TSqlRow>& rows, const TRowLess& less, bool inMemory) {
  std::size_t recordSize = 9;
  for (const TResultColumn& c : columns) {
    switch (c.Type) {
      case FieldType::String:
      case FieldType::Bytes:
      case FieldType::VarBytes:
        recordSize += 1u + c.Size;
        break;
      case FieldType::Bcd:
        recordSize += 1u + TBcd::StoredSize;
        break;
      default:
        recordSize += 9;
        break;
    }
  }
  TSortSpill spill;
  spill.Directory = context.PrivateDirectory;
  spill.RunLimit = inMemory ? 0
                            : std::min<std::size_t>(
                                  static_cast<std::size_t>(std::max(1, context.MaxDataBufferCount)),
                                  std::max<std::size_t>(1, 1048576 / recordSize));
  const std::size_t runs = SortRows(rows, less, spill);
  if (context.SortRunFiles != nullptr) *context.SortRunFiles += runs;
}

// Read locks of WITH LOCKS, given back on every exit path.
class TQueryReadLocks {
 public:
  TQueryReadLocks() = default;
  ~TQueryReadLocks() {
    for (auto it = FTables.rbegin(); it != FTables.rend(); ++it) {
      try {
        (*it)->EndQueryRead();
      } catch (...) {
        // A lock that cannot be released is reported by the table's next use.
      }
    }
  }
  TQueryReadLocks(const TQueryReadLocks&) = delete;
  TQueryReadLocks& operator=(const TQueryReadLocks&) = delete;

  void Lock(TDataCursor& cursor) {
    const bool changed = cursor.Table().BeginQueryRead();
    FTables.push_back(&cursor.Table());
    if (changed) cursor.ForceRefresh();
  }

 private:
  std::vector<TDataTable*> FTables;
};

// One cell of a produced row and how it is filled.
struct TSlot {
  TExpTokenPtr Owned;  // the tree evaluated on each combination (may be null)
  std::unique_ptr<TExpEvaluator> Eval;
  std::optional<TExpAggregate> Aggregate;  // the cell holds the argument until its group ends
  bool CountStar = false;
  // A column whose expression holds aggregates: evaluated when its group ends.
  TExpTokenPtr Post;
  std::unique_ptr<TExpEvaluator> PostEval;
};

// An aggregate node turned into a placeholder constant: its value is set
// from slot Slot before a Post or HAVING tree is evaluated.
struct TPlaceholder {
  TExpToken* Node;
  int Slot;
};

// Running state of one aggregate over a group.
struct TAggState {
  bool Has = false;
  std::int64_t Int = 0;
  double Float = 0;
  std::int64_t Count = 0;
  TSqlCell Value;  // MIN, MAX
};

bool IsFloatLike(std::uint8_t type) {
  return type == FieldType::Float || type == FieldType::Timestamp;
}

class TSelectRun {
 public:
  TSelectRun(const TSqlRunContext& context, const TQueryList& queries, int queryNo)
      : FContext(context),
        FQuery(*queries[static_cast<std::size_t>(queryNo)]),
        FQueryCount(queries.size()) {}

  // Copied result: produces, groups, orders (unless union) and keeps the
  // visible rows.
  void Produce(bool applyOrder);
  // Live when the rules allow.
  bool TryLive(std::unique_ptr<TSqlSources>& sources);

  std::vector<TResultColumn> Columns;
  std::vector<TSqlRow> Rows;  // visible cells after Produce

 private:
  void OpenSources(bool readOnly);
  void PrepareColumns();
  int AddPlainSlot(TExpTokenPtr tree);
  int AddAggregateSlot(TExpToken& node);
  void ConvertAggregates(TExpToken& root);
  int ResolveItem(const std::string& correlation, const std::string& name, int columnNo,
                  const char* clause);
  bool Emit();
  void Group(bool singleGroup);
  void FinishGroup(std::size_t first, std::size_t last, std::vector<TSqlRow>& out);
  void EvaluatePost(TSqlRow& row);
  void SortBy(const std::vector<int>& slots, const std::vector<bool>& desc, bool noCase,
              bool distinct, std::int64_t limit);
  void ApplyLimit(std::int64_t limit);

  const TSqlRunContext& FContext;
  const TDataQuery& FQuery;
  std::size_t FQueryCount;
  std::unique_ptr<TSqlSources> FSources;
  std::vector<TSlot> FSlots;
  std::vector<int> FVisible;  // the slot of each visible column
  std::vector<TPlaceholder> FPlaceholders;
  std::vector<TSqlRow> FRows;  // full rows (every slot)
  bool FGrouped = false;
  bool FAllAggregate = false;
  std::vector<int> FGroupSlots;
  TExpTokenPtr FHaving;
  std::unique_ptr<TExpEvaluator> FHavingEval;
  std::unique_ptr<TSqlCombinations> FCombinations;
  bool FStop = false;
  std::int64_t FLimit = -1;  // stop producing at this many rows
};

void TSelectRun::OpenSources(bool readOnly) {
  FSources = std::make_unique<TSqlSources>(*FContext.Directory, FQuery.Sources, readOnly,
                                           FContext.Password);
  if (FContext.CheckOnly) return;
  for (int t = 0; t < FSources->Count(); ++t) FSources->Cursor(t).ForceRefresh();
}

int TSelectRun::AddPlainSlot(TExpTokenPtr tree) {
  TSlot& slot = FSlots.emplace_back();
  slot.Owned = std::move(tree);
  return static_cast<int>(FSlots.size() - 1);
}

int TSelectRun::AddAggregateSlot(TExpToken& node) {
  const auto kind = static_cast<TExpAggregate>(node.Option);
  TSlot slot;
  slot.Aggregate = kind;
  TExpTokenPtr arg = node.List.empty() ? TExpTokenPtr() : std::move(node.List[0]);
  node.List.clear();
  std::uint8_t type = FieldType::Int32;
  std::uint16_t size = 0;
  std::uint8_t scale = 0;
  std::uint8_t subType = 0;
  if (!arg || (arg->Kind == TExpTokenKind::Column && arg->ColumnName == "*")) {
    slot.CountStar = true;
  } else {
    if (HasAggregate(*arg)) Fail("Aggregate functions cannot be nested");
    FSources->Bind(*arg, false, "result columns");
    if (kind != TExpAggregate::Count) {
      type = arg->DataType;
      subType = arg->SubType;
      size = arg->Size;
      scale = arg->Scale;
      if (type == FieldType::Boolean && kind != TExpAggregate::Min && kind != TExpAggregate::Max)
        Fail("Invalid use of aggregate function " + std::string(ExpAggregateName(kind)) +
             " on a boolean expression");
    }
    slot.Eval = std::make_unique<TExpEvaluator>(*arg, *FSources);
    slot.Owned = std::move(arg);
  }
  // The node becomes a constant of the aggregate's type.
  node.Kind = TExpTokenKind::Constant;
  node.DataType = type;
  node.SubType = subType == FieldSubType::AutoInc ? 0 : subType;
  node.Size = size;
  node.Scale = scale;
  node.Quoted = false;
  node.Reference = 0;
  node.Value.SetNull(type);
  FSlots.push_back(std::move(slot));
  const int at = static_cast<int>(FSlots.size() - 1);
  FPlaceholders.push_back({&node, at});
  return at;
}

void TSelectRun::ConvertAggregates(TExpToken& root) {
  if (root.Kind == TExpTokenKind::Aggregate) {
    AddAggregateSlot(root);
    return;
  }
  if (root.Left) ConvertAggregates(*root.Left);
  if (root.Right) ConvertAggregates(*root.Right);
  for (TExpTokenPtr& item : root.List)
    if (item) ConvertAggregates(*item);
}

std::string ColumnTitle(const TResultField& field, const TExpToken& tree, int n) {
  if (!field.Alias.empty()) return field.Alias;
  if (tree.Kind == TExpTokenKind::Column) return tree.ColumnName;
  if (tree.Kind == TExpTokenKind::Aggregate) {
    std::string name = ExpAggregateName(static_cast<TExpAggregate>(tree.Option));
    if (!tree.List.empty() && tree.List[0] && tree.List[0]->Kind == TExpTokenKind::Column &&
        tree.List[0]->ColumnName != "*")
      name += " of " + tree.List[0]->ColumnName;
    return name;
  }
  return "Column" + std::to_string(n);
}

void TSelectRun::PrepareColumns() {
  std::vector<std::string> names;
  bool allAggregate = !FQuery.Columns.empty();
  for (std::size_t i = 0; i < FQuery.Columns.size(); ++i) {
    const TResultField& field = FQuery.Columns[i];
    const TExpToken& original = *field.Expression;
    if (original.Kind == TExpTokenKind::Column && original.ColumnName == "*") {
      allAggregate = false;
      int only = -1;
      if (!original.Correlation.empty()) {
        only = FSources->FindTable(original.Correlation);
        if (only < 0)
          Fail("Invalid column name '*' or table correlation name '" + original.Correlation +
               "' specified in result columns");
      }
      for (int t = 0; t < FSources->Count(); ++t) {
        if (only >= 0 && t != only) continue;
        for (int f = 1; f <= FSources->Cursor(t).FieldCount(); ++f) {
          TExpTokenPtr column = NewExpToken();
          column->Kind = TExpTokenKind::Column;
          column->ColumnName = FSources->Cursor(t).Field(f).FieldName();
          column->Correlation = FSources->Table(t).ReferenceName();
          column->Text = column->ColumnName;
          names.push_back(column->ColumnName);
          FSources->Bind(*column, false, "result columns");
          const int slot = AddPlainSlot(std::move(column));
          FVisible.push_back(slot);
        }
      }
      continue;
    }
    TExpTokenPtr tree = CopyExpTree(original);
    PrepareTree(*tree, FContext);
    names.push_back(ColumnTitle(field, original, static_cast<int>(i) + 1));
    if (HasAggregate(*tree)) {
      if (tree->Kind == TExpTokenKind::Aggregate) {
        // The aggregate's own slot is the column.
        TExpToken& node = *tree;
        const int slot = AddAggregateSlot(node);
        FSlots[static_cast<std::size_t>(slot)].Post = std::move(tree);
        FVisible.push_back(slot);
      } else {
        ConvertAggregates(*tree);
        FSources->Bind(*tree, false, "result columns");
        TSlot& slot = FSlots.emplace_back();
        slot.Post = std::move(tree);
        FVisible.push_back(static_cast<int>(FSlots.size() - 1));
      }
    } else {
      if (HasColumn(*tree)) allAggregate = false;
      FSources->Bind(*tree, false, "result columns");
      FVisible.push_back(AddPlainSlot(std::move(tree)));
    }
  }
  FAllAggregate = allAggregate && FQuery.GroupBy.empty();
  FGrouped = !FQuery.GroupBy.empty() || FAllAggregate;
  if (!FGrouped)
    for (const TSlot& slot : FSlots)
      if (slot.Aggregate)
        Fail("A GROUP BY clause must exist when aggregate and non-aggregate columns are mixed");
  for (TSlot& slot : FSlots) {
    if (slot.Owned && !slot.Eval)
      slot.Eval = std::make_unique<TExpEvaluator>(*slot.Owned, *FSources);
    if (slot.Post) {
      NumberExpSlots(*slot.Post);
      slot.PostEval = std::make_unique<TExpEvaluator>(*slot.Post, *FSources);
    }
  }
  // Column descriptions and unique names.
  for (std::size_t i = 0; i < FVisible.size(); ++i) {
    const TSlot& slot = FSlots[static_cast<std::size_t>(FVisible[i])];
    const TExpToken& tree = slot.Post ? *slot.Post : *slot.Owned;
    TResultColumn c;
    c.Type = tree.DataType;
    c.SubType = tree.SubType == FieldSubType::AutoInc ? 0 : tree.SubType;
    c.Size = tree.Size;
    c.Scale = tree.Scale;
    if (slot.Aggregate && *slot.Aggregate == TExpAggregate::Count) c.Type = FieldType::Int32;
    std::string name = names[i].substr(0, 30);
    for (int k = 1;; ++k) {
      const bool taken =
          std::any_of(Columns.begin(), Columns.end(),
                      [&](const TResultColumn& other) { return SameName(other.Name, name); });
      if (!taken) break;
      const std::string suffix = "_" + std::to_string(k);
      name = names[i].substr(0, 30 - suffix.size()) + suffix;
    }
    c.Name = name;
    Columns.push_back(c);
  }
}

int TSelectRun::ResolveItem(const std::string& correlation, const std::string& name, int columnNo,
                            const char* clause) {
  if (columnNo > 0) {
    if (columnNo > static_cast<int>(FVisible.size()))
      Fail("Column number " + std::to_string(columnNo) + " in " + clause +
           " clause is out of range");
    return FVisible[static_cast<std::size_t>(columnNo - 1)];
  }
  if (correlation.empty())
    for (std::size_t i = 0; i < Columns.size(); ++i)
      if (SameName(Columns[i].Name, name)) return FVisible[i];
  // A source column: the visible column that shows it, or a hidden one.
  TExpTokenPtr column = NewExpToken();
  column->Kind = TExpTokenKind::Column;
  column->ColumnName = name;
  column->Correlation = correlation;
  column->Text = name;
  FSources->Bind(*column, false, std::string(clause) + " clause");
  for (std::size_t i = 0; i < FVisible.size(); ++i) {
    const TSlot& slot = FSlots[static_cast<std::size_t>(FVisible[i])];
    if (!slot.Aggregate && slot.Owned && slot.Owned->Kind == TExpTokenKind::Column &&
        slot.Owned->FieldNo == column->FieldNo)
      return FVisible[i];
  }
  const int at = AddPlainSlot(std::move(column));
  FSlots[static_cast<std::size_t>(at)].Eval =
      std::make_unique<TExpEvaluator>(*FSlots[static_cast<std::size_t>(at)].Owned, *FSources);
  return at;
}

bool TSelectRun::Emit() {
  TSqlRow row(FSlots.size());
  for (std::size_t s = 0; s < FSlots.size(); ++s) {
    TSlot& slot = FSlots[s];
    if (slot.CountStar) {
      row[s].Type = FieldType::Int32;
      row[s].Null = false;
      row[s].Int = 1;
    } else if (slot.Eval) {
      row[s] = TSqlCell::From(slot.Eval->Evaluate());
    }
  }
  FRows.push_back(std::move(row));
  return FLimit < 0 || static_cast<std::int64_t>(FRows.size()) < FLimit;
}

// Combines value into an aggregate's state.
void Accumulate(TAggState& state, TExpAggregate kind, const TSqlCell& value, bool countStar) {
  if (countStar) {
    state.Count += value.Null ? 0 : value.Int;
    state.Has = true;
    return;
  }
  if (value.Null) return;
  ++state.Count;
  switch (kind) {
    case TExpAggregate::Count:
      break;
    case TExpAggregate::Min:
    case TExpAggregate::Max:
      if (!state.Has || (kind == TExpAggregate::Min ? CompareCells(value, state.Value, false) < 0
                                                    : CompareCells(value, state.Value, false) > 0))
        state.Value = value;
      break;
    default:
      if (value.Type == FieldType::Bcd)
        state.Int += BcdFixedValue(value.Bcd);
      else if (IsFloatLike(value.Type))
        state.Float += value.Float;
      else
        state.Int += value.Int;
      break;
  }
  state.Has = true;
}

// The finished value of an aggregate over a group of type type.
TSqlCell Finish(const TAggState& state, TExpAggregate kind, std::uint8_t type, std::uint8_t scale) {
  TSqlCell c;
  c.Type = type;
  if (kind == TExpAggregate::Count) {
    c.Type = FieldType::Int32;
    c.Null = false;
    c.Int = state.Count;
    return c;
  }
  if (kind == TExpAggregate::Min || kind == TExpAggregate::Max) return state.Has ? state.Value : c;
  if (kind == TExpAggregate::Avg) {
    c.Null = false;
    if (type == FieldType::Bcd) {
      // Units of 1/10,000, rounded to the nearest, halves away from zero.
      std::int64_t fixed = 0;
      if (state.Count != 0) {
        fixed = state.Int / state.Count;
        const std::int64_t rest = state.Int % state.Count;
        if (2 * (rest < 0 ? -rest : rest) >= state.Count) fixed += state.Int < 0 ? -1 : 1;
      }
      c.Bcd = BcdFromFixed(fixed, scale);
    } else if (IsFloatLike(type)) {
      c.Float = state.Count == 0 ? 0 : state.Float / static_cast<double>(state.Count);
    } else {
      c.Int = state.Count == 0 ? 0 : state.Int / state.Count;
    }
    return c;
  }
  if (!state.Has) return c;
  c.Null = false;
  if (type == FieldType::Bcd)
    c.Bcd = BcdFromFixed(state.Int, scale);
  else if (IsFloatLike(type))
    c.Float = state.Float;
  else
    c.Int = state.Int;
  return c;
}

void TSelectRun::EvaluatePost(TSqlRow& row) {
  for (const TPlaceholder& p : FPlaceholders)
    row[static_cast<std::size_t>(p.Slot)].To(p.Node->Value);
  for (std::size_t s = 0; s < FSlots.size(); ++s) {
    TSlot& slot = FSlots[s];
    if (slot.PostEval && !slot.Aggregate) row[s] = TSqlCell::From(slot.PostEval->Evaluate());
  }
}

void TSelectRun::Group(bool singleGroup) {
  std::vector<TSqlRow> out;
  if (!singleGroup) {
    SortBy(FGroupSlots, std::vector<bool>(FGroupSlots.size(), false), false, false, -1);
  }
  std::size_t first = 0;
  while (first < FRows.size()) {
    std::size_t last = first + 1;
    if (singleGroup) {
      last = FRows.size();
    } else {
      while (last < FRows.size()) {
        bool same = true;
        for (int g : FGroupSlots)
          if (CompareCells(FRows[first][static_cast<std::size_t>(g)],
                           FRows[last][static_cast<std::size_t>(g)], false) != 0) {
            same = false;
            break;
          }
        if (!same) break;
        ++last;
      }
    }
    FinishGroup(first, last, out);
    first = last;
  }
  if (singleGroup && FRows.empty()) FinishGroup(0, 0, out);
  FRows = std::move(out);
}

void TSelectRun::FinishGroup(std::size_t first, std::size_t last, std::vector<TSqlRow>& out) {
  TSqlRow row = first < last ? FRows[first] : TSqlRow(FSlots.size());
  for (std::size_t s = 0; s < FSlots.size(); ++s) {
    TSlot& slot = FSlots[s];
    if (!slot.Aggregate) continue;
    TAggState state;
    for (std::size_t r = first; r < last; ++r)
      Accumulate(state, *slot.Aggregate, FRows[r][s], slot.CountStar);
    std::uint8_t type = FieldType::Int32;
    std::uint8_t scale = 0;
    for (const TPlaceholder& p : FPlaceholders)
      if (p.Slot == static_cast<int>(s)) {
        type = p.Node->DataType;
        scale = p.Node->Scale;
      }
    TSqlCell value = Finish(state, *slot.Aggregate, type, scale);
    if (*slot.Aggregate == TExpAggregate::RunSum && !out.empty()) {
      // Each group starts from the finished value of the group before.
      const TSqlCell& before = out.back()[s];
      if (!before.Null) {
        if (value.Null) {
          value = before;
        } else if (type == FieldType::Bcd) {
          value.Bcd = BcdFromFixed(BcdFixedValue(value.Bcd) + BcdFixedValue(before.Bcd), scale);
        } else if (IsFloatLike(type)) {
          value.Float += before.Float;
        } else {
          value.Int += before.Int;
        }
      }
    }
    row[s] = std::move(value);
  }
  EvaluatePost(row);
  if (FHavingEval && !FHavingEval->Passes()) return;
  out.push_back(std::move(row));
}

void TSelectRun::SortBy(const std::vector<int>& slots, const std::vector<bool>& desc, bool noCase,
                        bool distinct, std::int64_t limit) {
  SortResult(
      FContext, Columns, FRows,
      [&](const TSqlRow& a, const TSqlRow& b) {
        for (std::size_t i = 0; i < slots.size(); ++i) {
          const auto s = static_cast<std::size_t>(slots[i]);
          int c = CompareCells(a[s], b[s], noCase);
          if (desc[i]) c = -c;
          if (c != 0) return c < 0;
        }
        return false;
      },
      FQuery.IntoMemory);
  if (distinct) {
    std::vector<TSqlRow> kept;
    for (TSqlRow& row : FRows) {
      bool same = !kept.empty();
      for (std::size_t i = 0; same && i < slots.size(); ++i) {
        const auto s = static_cast<std::size_t>(slots[i]);
        same = CompareCells(kept.back()[s], row[s], false) == 0;
      }
      if (!same) kept.push_back(std::move(row));
    }
    FRows = std::move(kept);
  }
  ApplyLimit(limit);
}

void TSelectRun::ApplyLimit(std::int64_t limit) {
  if (limit >= 0 && static_cast<std::int64_t>(FRows.size()) > limit)
    FRows.resize(static_cast<std::size_t>(limit));
}

void TSelectRun::Produce(bool applyOrder) {
  OpenSources(true);
  PrepareColumns();
  if (FQuery.Having && !FQuery.GroupBy.empty()) {
    FHaving = CopyExpTree(*FQuery.Having);
    PrepareTree(*FHaving, FContext);
    ConvertAggregates(*FHaving);
    // Names of result columns read the finished row.
    ForEachNode(*FHaving, [&](TExpToken& node) {
      if (node.Kind != TExpTokenKind::Column || !node.Correlation.empty()) return;
      for (std::size_t i = 0; i < Columns.size(); ++i)
        if (SameName(Columns[i].Name, node.ColumnName)) {
          node.Kind = TExpTokenKind::Constant;
          node.DataType = Columns[i].Type;
          node.SubType = Columns[i].SubType;
          node.Size = Columns[i].Size;
          node.Scale = Columns[i].Scale;
          node.Quoted = false;
          node.Value.SetNull(node.DataType);
          FPlaceholders.push_back({&node, FVisible[i]});
          return;
        }
    });
    FSources->Bind(*FHaving, false, "HAVING clause");
    if (FHaving->DataType != FieldType::Boolean) Fail("HAVING clause must be a boolean expression");
    NumberExpSlots(*FHaving);
    FHavingEval = std::make_unique<TExpEvaluator>(*FHaving, *FSources);
  }
  for (const TGroupByField& g : FQuery.GroupBy)
    FGroupSlots.push_back(ResolveItem(g.Correlation, g.Name, g.ColumnNo, "GROUP BY"));
  std::vector<int> orderSlots;
  std::vector<bool> orderDesc;
  const bool ordering = applyOrder && !FQuery.OrderBy.empty();
  if (ordering)
    for (const TOrderByField& o : FQuery.OrderBy) {
      orderSlots.push_back(ResolveItem(o.Correlation, o.Name, o.ColumnNo, "ORDER BY"));
      orderDesc.push_back(o.Descending);
    }
  if (FContext.CheckOnly) return;
  const bool distinct = FQuery.Distinct && FQuery.GroupBy.empty() && !FAllAggregate;
  FCombinations = std::make_unique<TSqlCombinations>(FContext, FQuery, *FSources, false, true);
  FCombinations->Prepare();
  const std::int64_t top = FQuery.Top ? *FQuery.Top : -1;
  if (FContext.MaxRowCount >= 0) FLimit = FContext.MaxRowCount;
  if (top >= 0 && !ordering && !FGrouped && !distinct && (FLimit < 0 || top < FLimit)) FLimit = top;
  if (FLimit == 0) {
    FStop = true;
  }
  // COUNT(*) alone over one table: the filtered record count.
  const bool countOnly = FAllAggregate && FSources->Count() == 1 && FSlots.size() == 1 &&
                         FSlots[0].CountStar && FCombinations->FiltersOnly();
  if (countOnly) {
    TSqlRow row(1);
    row[0].Type = FieldType::Int32;
    row[0].Null = false;
    row[0].Int = FSources->Cursor(0).GetRecordCount();
    FRows.push_back(std::move(row));
    TSqlProgress(FContext, 1).Finish();
  } else if (!FStop) {
    // WITH LOCKS: every source table stays read-locked while the rows are
    // produced.
    TQueryReadLocks locks;
    if (FQuery.WithLocks)
      for (int t = 0; t < FSources->Count(); ++t) locks.Lock(FSources->Cursor(t));
    FCombinations->Run([this] { return Emit(); });
  }
  bool ordered = false;
  if (FAllAggregate) {
    Group(true);
    ordered = true;
  } else if (distinct) {
    const bool same = ordering && orderSlots == FVisible && !FQuery.NoCase &&
                      std::none_of(orderDesc.begin(), orderDesc.end(), [](bool d) { return d; });
    SortBy(FVisible, std::vector<bool>(FVisible.size(), false), false, true,
           same || !ordering ? top : -1);
    ordered = same;
  } else if (FGrouped) {
    Group(false);
    const bool same = ordering && orderSlots == FGroupSlots && !FQuery.NoCase &&
                      std::none_of(orderDesc.begin(), orderDesc.end(), [](bool d) { return d; });
    if (same || !ordering) ApplyLimit(top);
    ordered = same;
  }
  if (ordering && !ordered) {
    SortBy(orderSlots, orderDesc, FQuery.NoCase, false, top);
  } else if (!FGrouped && !distinct) {
    ApplyLimit(top);
  }
  Rows.reserve(FRows.size());
  for (TSqlRow& row : FRows) {
    TSqlRow visible;
    visible.reserve(FVisible.size());
    for (int s : FVisible) visible.push_back(std::move(row[static_cast<std::size_t>(s)]));
    Rows.push_back(std::move(visible));
  }
  FRows.clear();
}

bool TSelectRun::TryLive(std::unique_ptr<TSqlSources>& sources) {
  const TDataQuery& q = FQuery;
  if (!FContext.RequestLive || q.Into || q.Distinct || q.Sources.size() != 1 || !q.Joins.empty() ||
      !q.GroupBy.empty() || q.Having || q.UnionNext >= 0 || q.UnionMember || FQueryCount != 1)
    return false;
  bool allAggregate = !q.Columns.empty();
  for (const TResultField& c : q.Columns) {
    TExpToken& tree = *c.Expression;
    if (HasAggregate(tree)) return false;
    if (HasColumn(tree)) allAggregate = false;
  }
  if (allAggregate) return false;
  OpenSources(false);
  TDataCursor& cursor = FSources->Cursor(0);
  int indexSlot = -1;
  if (!q.OrderBy.empty()) {
    std::vector<int> fields;
    for (const TOrderByField& o : q.OrderBy) {
      std::string name = o.Name;
      if (o.ColumnNo > 0) {
        if (o.ColumnNo > static_cast<int>(q.Columns.size())) return false;
        const TExpToken& tree = *q.Columns[static_cast<std::size_t>(o.ColumnNo - 1)].Expression;
        if (tree.Kind != TExpTokenKind::Column || tree.ColumnName == "*") return false;
        name = tree.ColumnName;
      } else {
        for (const TResultField& c : q.Columns)
          if (!c.Alias.empty() && SameName(c.Alias, o.Name) &&
              c.Expression->Kind == TExpTokenKind::Column)
            name = c.Expression->ColumnName;
      }
      const std::optional<TExpColumn> column = FSources->FindColumn(name);
      if (!column) return false;
      fields.push_back(column->FieldNo);
    }
    const TIndexFile& index = cursor.Table().IndexFile();
    for (int s = 0; s <= index.IndexCount() && indexSlot < 0; ++s) {
      if (s == 0 && index.NoPrimaryIndex()) continue;
      const TIndexDescriptor& d = index.Descriptor(s);
      if (d.FieldCount != fields.size() || d.CaseInsensitive != q.NoCase) continue;
      bool match = true;
      for (std::size_t i = 0; i < fields.size() && match; ++i)
        match = d.FieldNumbers[i] == fields[i] &&
                ((d.FieldDescending[i] != 0) != d.Descending) == q.OrderBy[i].Descending;
      if (match) indexSlot = s;
    }
    if (indexSlot < 0) {
      FSources.reset();
      return false;
    }
  }
  if (q.Where) {
    TExpTokenPtr where = CopyExpTree(*q.Where);
    PrepareTree(*where, FContext);
    FSources->Bind(*where, true, "WHERE clause");
    if (where->DataType != FieldType::Boolean)
      Fail("WHERE or JOIN clause must be a boolean expression");
    TFilter& filter = cursor.AddFilter(FSources->LocalCopy(*where, 0));
    cursor.ActivateFilter(filter);
  }
  if (indexSlot >= 0) cursor.SwitchToIndexNo(indexSlot);
  cursor.SetToBegin();
  sources = std::move(FSources);
  return true;
}

class TLiveResult final : public TSelectResult {
 public:
  explicit TLiveResult(std::unique_ptr<TSqlSources> sources) : FSources(std::move(sources)) {}
  TDataCursor& Cursor() override { return FSources->Cursor(0); }
  bool Live() const override { return true; }

 private:
  std::unique_ptr<TSqlSources> FSources;
};

class TCopiedResult final : public TSelectResult {
 public:
  explicit TCopiedResult(std::unique_ptr<TSqlResultTable> table) : FTable(std::move(table)) {}
  TDataCursor& Cursor() override { return FTable->Cursor(); }
  bool Live() const override { return false; }

 private:
  std::unique_ptr<TSqlResultTable> FTable;
};

// Appends the rows of other to rows, each cell converted to the column
// type of the head at the same position.
void AppendRows(std::vector<TSqlRow>& rows, const std::vector<TResultColumn>& columns,
                std::vector<TSqlRow>& other) {
  for (TSqlRow& row : other) {
    row.resize(columns.size());
    rows.push_back(std::move(row));
  }
}

void DistinctRows(const TSqlRunContext& context, const std::vector<TResultColumn>& columns,
                  std::vector<TSqlRow>& rows, bool inMemory) {
  SortResult(
      context, columns, rows,
      [](const TSqlRow& a, const TSqlRow& b) {
        for (std::size_t i = 0; i < a.size(); ++i)
          if (const int c = CompareCells(a[i], b[i], false); c != 0) return c < 0;
        return false;
      },
      inMemory);
  rows.erase(std::unique(rows.begin(), rows.end(),
                         [](const TSqlRow& a, const TSqlRow& b) {
                           for (std::size_t i = 0; i < a.size(); ++i)
                             if (CompareCells(a[i], b[i], false) != 0) return false;
                           return true;
                         }),
             rows.end());
}

// The values of the first column of a sub-select's result.
std::vector<TExpValue> SubSelectValues(const TSqlRunContext& context, int queryNo) {
  if (context.Queries == nullptr || queryNo < 0 ||
      queryNo >= static_cast<int>(context.Queries->size()))
    Fail("Sub-select queries cannot be executed here");
  TSqlRunContext sub = context;
  sub.RequestLive = false;
  sub.MaxRowCount = -1;
  sub.Progress = {};
  const std::unique_ptr<TSelectResult> result = RunSelect(sub, *context.Queries, queryNo);
  TDataCursor& cursor = result->Cursor();
  std::vector<TExpValue> values;
  std::vector<std::uint8_t> record(cursor.RecordSize());
  cursor.SetToBegin();
  while (cursor.GetNextRecord(record) == 0) {
    TExpValue& v = values.emplace_back();
    if (cursor.Field(1).FieldType() == FieldType::Blob) {
      v.SetOwnText(FieldType::String, FieldText(cursor, 1, record));
    } else {
      ReadFieldValue(cursor, 1, record, v);
    }
  }
  return values;
}

void MakeConstant(TExpToken& node, const TExpValue& value) {
  node.Kind = TExpTokenKind::Constant;
  node.Op = TExpOp::None;
  node.Left.reset();
  node.Right.reset();
  node.List.clear();
  node.Reference = 0;
  node.Quoted = false;
  node.Value.CopyFrom(value);
  node.DataType = value.Type;
  node.Size = value.Type == FieldType::String
                  ? static_cast<std::uint16_t>(std::min<std::size_t>(value.Text.size() + 1, 251))
                  : 0;
  node.Text.clear();
  if (!value.Null) AppendValueText(value, node.Text);
}

void ResolveSubSelects(TExpToken& node, const TSqlRunContext& context) {
  if (node.Kind == TExpTokenKind::List && (node.Op == TExpOp::In || node.Op == TExpOp::NotIn) &&
      node.List.size() == 1 && node.List[0] && node.List[0]->Kind == TExpTokenKind::SubSelect) {
    if (node.Left) ResolveSubSelects(*node.Left, context);
    if (context.CheckOnly) {
      TExpValue none;
      none.SetNull(FieldType::Unknown);
      MakeConstant(*node.List[0], none);
      return;
    }
    const std::vector<TExpValue> values = SubSelectValues(context, node.List[0]->Reference);
    node.List.clear();
    if (values.empty()) {
      TExpValue answer;
      answer.SetBool(node.Op == TExpOp::NotIn);
      MakeConstant(node, answer);
      return;
    }
    for (const TExpValue& v : values) {
      TExpTokenPtr constant = NewExpToken();
      MakeConstant(*constant, v);
      node.List.push_back(std::move(constant));
    }
    return;
  }
  if (node.Kind == TExpTokenKind::SubSelect) {
    if (context.CheckOnly) {
      TExpValue none;
      none.SetNull(FieldType::Unknown);
      MakeConstant(node, none);
      return;
    }
    const std::vector<TExpValue> values = SubSelectValues(context, node.Reference);
    TExpValue none;
    none.SetNull(FieldType::Unknown);
    MakeConstant(node, values.empty() ? none : values.front());
    return;
  }
  if (node.Left) ResolveSubSelects(*node.Left, context);
  if (node.Right) ResolveSubSelects(*node.Right, context);
  for (TExpTokenPtr& item : node.List)
    if (item) ResolveSubSelects(*item, context);
}

}  // namespace

void PrepareTree(TExpToken& root, const TSqlRunContext& context) {
  const TSqlParameters none;
  SubstituteParameters(root, context.Parameters != nullptr ? *context.Parameters : none);
  ResolveSubSelects(root, context);
}

TSqlCombinations::TSqlCombinations(const TSqlRunContext& context, const TDataQuery& query,
                                   TSqlSources& sources, bool keepFirst, bool readOnly)
    : FContext(context),
      FQuery(query),
      FSources(sources),
      FKeepFirst(keepFirst),
      FReadOnly(readOnly) {}

TSqlCombinations::~TSqlCombinations() = default;

bool TSqlCombinations::FiltersOnly() const {
  return FLevels.size() == 1 && FLevels[0].Match.empty() && FLevels[0].After.empty();
}

void TSqlCombinations::Prepare() {
  const int n = FSources.Count();
  // Join of each inner table. A RIGHT OUTER join is read as the LEFT OUTER
  // join of its two tables the other way round.
  struct TJoinRef {
    TJoinKind Kind = TJoinKind::Inner;
    int Outer = 0;
    const TExpToken* Condition = nullptr;
  };
  std::vector<std::optional<TJoinRef>> joinOf(static_cast<std::size_t>(n));
  std::vector<std::pair<int, int>> turned;  // (outer, inner) of RIGHT joins turned round
  for (const TTableJoin& join : FQuery.Joins) {
    if (join.Kind == TJoinKind::RightOuter) {
      if (joinOf[static_cast<std::size_t>(join.Outer)])
        Fail("A RIGHT OUTER join whose left table is joined itself cannot be executed");
      joinOf[static_cast<std::size_t>(join.Outer)] =
          TJoinRef{TJoinKind::LeftOuter, join.Inner, join.Condition.get()};
      turned.emplace_back(join.Inner, join.Outer);
    } else {
      joinOf[static_cast<std::size_t>(join.Inner)] =
          TJoinRef{join.Kind, join.Outer, join.Condition.get()};
    }
  }
  // WHERE: single-table conjuncts become filters, the rest are tested per
  // combination.
  std::vector<std::pair<TExpToken*, std::uint64_t>> rest;  // conjunct, tables
  std::vector<std::int64_t> counts(static_cast<std::size_t>(n), 0);
  if (FQuery.Where) {
    TExpTokenPtr& where = FOwnedConditions.emplace_back(CopyExpTree(*FQuery.Where));
    PrepareTree(*where, FContext);
    FSources.Bind(*where, true, "WHERE clause");
    if (where->DataType != FieldType::Boolean)
      Fail("WHERE or JOIN clause must be a boolean expression");
    std::vector<TExpToken*> parts;
    SplitConjuncts(*where, parts);
    for (TExpToken* part : parts) {
      const std::uint64_t tables = FSources.TablesOf(*part);
      if (std::popcount(tables) == 1 && n <= 63) {
        const int t = std::countr_zero(tables);
        TDataCursor& cursor = FSources.Cursor(t);
        TFilter& filter = cursor.AddFilter(FSources.LocalCopy(*part, t));
        cursor.ActivateFilter(filter);
      } else {
        rest.emplace_back(part, tables);
      }
    }
  }
  for (int t = 0; t < n; ++t)
    counts[static_cast<std::size_t>(t)] = FSources.Cursor(t).GetRecordCount();
  // Iteration order: the FROM order, with the smallest inner table of an
  // INNER join moved to the front when it is smaller than the first.
  std::vector<int> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  if (n > 1 && !FQuery.NoJoinOptimize && !FKeepFirst) {
    int best = -1;
    for (int t = 1; t < n; ++t) {
      const std::optional<TJoinRef>& join = joinOf[static_cast<std::size_t>(t)];
      if (!join || join->Kind != TJoinKind::Inner) continue;
      const std::optional<TJoinRef>& above = joinOf[static_cast<std::size_t>(join->Outer)];
      if (above && above->Kind == TJoinKind::LeftOuter) continue;
      if (best < 0 || counts[static_cast<std::size_t>(t)] < counts[static_cast<std::size_t>(best)])
        best = t;
    }
    if (best > 0 && counts[static_cast<std::size_t>(best)] < counts[0]) {
      // The chain of INNER joins from its top down to the winner is turned
      // round: the winner first, then the table that joined it, and so on up
      // to the top; the other tables follow in their order.
      std::vector<int> chain{best};
      for (int t = best;;) {
        const std::optional<TJoinRef>& join = joinOf[static_cast<std::size_t>(t)];
        if (!join || join->Kind != TJoinKind::Inner) break;
        t = join->Outer;
        if (static_cast<int>(chain.size()) >= n ||
            std::find(chain.begin(), chain.end(), t) != chain.end())
          Fail("Internal join optimization error");
        chain.push_back(t);
      }
      std::vector<int> turnedOrder = chain;
      for (int t : order)
        if (std::find(chain.begin(), chain.end(), t) == chain.end()) turnedOrder.push_back(t);
      order = std::move(turnedOrder);
    }
  }
  // The outer table of a turned RIGHT join comes before its inner one.
  for (auto [outer, inner] : turned) {
    const auto o = std::find(order.begin(), order.end(), outer);
    const auto i = std::find(order.begin(), order.end(), inner);
    if (o > i) {
      order.erase(o);
      order.insert(std::find(order.begin(), order.end(), inner), outer);
    }
  }
  std::vector<int> position(static_cast<std::size_t>(n));
  for (int p = 0; p < n; ++p)
    position[static_cast<std::size_t>(order[static_cast<std::size_t>(p)])] = p;
  const auto levelOf = [&](std::uint64_t tables) {
    int level = 0;
    for (int t = 0; t < n; ++t)
      if (tables & (std::uint64_t{1} << std::min(t, 63)))
        level = std::max(level, position[static_cast<std::size_t>(t)]);
    return level;
  };
  FLevels.resize(static_cast<std::size_t>(n));
  for (int p = 0; p < n; ++p)
    FLevels[static_cast<std::size_t>(p)].Table = order[static_cast<std::size_t>(p)];
  for (int t = 0; t < n; ++t) {
    const std::optional<TJoinRef>& join = joinOf[static_cast<std::size_t>(t)];
    if (!join) continue;
    TExpTokenPtr& condition = FOwnedConditions.emplace_back(CopyExpTree(*join->Condition));
    PrepareTree(*condition, FContext);
    FSources.Bind(*condition, false, "JOIN clause");
    if (condition->DataType != FieldType::Boolean)
      Fail("WHERE or JOIN clause must be a boolean expression");
    std::vector<TExpToken*> parts;
    SplitConjuncts(*condition, parts);
    const bool left = join->Kind == TJoinKind::LeftOuter;
    for (TExpToken* part : parts) {
      const std::uint64_t tables = FSources.TablesOf(*part) | (std::uint64_t{1} << std::min(t, 63));
      const int level = left ? position[static_cast<std::size_t>(t)] : levelOf(tables);
      NumberExpSlots(*part);
      TLevel& l = FLevels[static_cast<std::size_t>(level)];
      l.LeftOuter = l.LeftOuter || left;
      l.Match.emplace_back(part, std::make_unique<TExpEvaluator>(*part, FSources));
    }
  }
  for (auto& [part, tables] : rest) {
    NumberExpSlots(*part);
    TLevel& l = FLevels[static_cast<std::size_t>(levelOf(tables))];
    (l.LeftOuter ? l.After : l.Match)
        .emplace_back(part, std::make_unique<TExpEvaluator>(*part, FSources));
  }
  // Index probes: an equality of this level's table field with a field of
  // an earlier table, where an index starts with that field.
  for (int p = 1; p < n; ++p) {
    TLevel& l = FLevels[static_cast<std::size_t>(p)];
    TDataCursor& cursor = FSources.Cursor(l.Table);
    for (auto& [part, eval] : l.Match) {
      if (part->Kind != TExpTokenKind::Binary || part->Op != TExpOp::Equal) continue;
      const TExpToken* a = part->Left.get();
      const TExpToken* b = part->Right.get();
      if (!a || !b || !a->IsColumn() || !b->IsColumn()) continue;
      if (FSources.TableOf(b->FieldNo) == l.Table) std::swap(a, b);
      if (FSources.TableOf(a->FieldNo) != l.Table) continue;
      const int other = FSources.TableOf(b->FieldNo);
      if (position[static_cast<std::size_t>(other)] >= p || a->DataType != b->DataType ||
          a->Size != b->Size || a->DataType == FieldType::Blob)
        continue;
      const int field = a->FieldNo - FSources.Base(l.Table);
      const TIndexFile& index = cursor.Table().IndexFile();
      int slotFound = -1;
      for (int s = 0; s <= index.IndexCount() && slotFound < 0; ++s) {
        if (s == 0 && index.NoPrimaryIndex()) continue;
        const TIndexDescriptor& d = index.Descriptor(s);
        if (d.FieldCount > 0 && d.FieldNumbers[0] == field && !d.CaseInsensitive) slotFound = s;
      }
      if (slotFound < 0) continue;
      cursor.SwitchToIndexNo(slotFound);
      l.ProbeField = field;
      l.ProbeFrom = b->FieldNo;
      l.ProbeKey.assign(cursor.RecordSize(), 0);
      break;
    }
  }
}

void TSqlCombinations::Level(int p) {
  if (p == static_cast<int>(FLevels.size())) {
    if (!(*FEmit)()) FStop = true;
    return;
  }
  TLevel& l = FLevels[static_cast<std::size_t>(p)];
  TDataCursor& cursor = FSources.Cursor(l.Table);
  std::vector<std::uint8_t>& buffer = FSources.Buffer(l.Table);
  bool probeEmpty = false;
  if (l.ProbeField > 0) {
    const TFieldRead from = FSources.ReadField(l.ProbeFrom);
    if (from.Blank) {
      probeEmpty = true;
    } else {
      std::fill(l.ProbeKey.begin(), l.ProbeKey.end(), 0);
      cursor.PutField(l.ProbeField, l.ProbeKey, from.Bytes);
      cursor.SetRange(l.ProbeKey, 1, l.ProbeKey, 1, false);
    }
  }
  bool matched = false;
  const auto passes = [](auto& list) {
    for (auto& [part, eval] : list)
      if (!eval->Passes()) return false;
    return true;
  };
  const auto visit = [&] {
    if (p == 0 && FProgress && FProgress->Step(++FOrdinal)) FStop = true;
    if (!passes(l.Match)) return;
    matched = true;
    if (passes(l.After)) Level(p + 1);
  };
  if (!probeEmpty && FReadOnly && p == 0 && l.ProbeField == 0 && !cursor.InNaturalOrder() &&
      cursor.GetRecordCount() * 16 < cursor.Table().IndexFile().RecordCount()) {
    // A filter that leaves few records: walking the index would step over
    // every key to find them. The records are read in record order from
    // the filter's bitmap instead and put in the index's order by their
    // keys (which end with the record's identifier where the index is not
    // unique), which is the order the index walk gives.
    const TKeyDef def = cursor.Table().IndexFile().KeyDef(cursor.IndexNo());
    cursor.SwitchToIndexNo(CursorIndex::Natural);
    const std::size_t size = cursor.RecordSize();
    const std::size_t keySize = def.KeySize;
    std::vector<std::uint8_t> records;
    std::vector<std::uint8_t> keys;
    constexpr std::int32_t BatchRecords = 64;
    l.Batch.resize(size * BatchRecords);
    cursor.SetToBegin();
    TErrorCode code = 0;
    while (code == 0) {
      std::int32_t count = BatchRecords;
      code = cursor.GetNextRecords(count, l.Batch);
      records.insert(
          records.end(), l.Batch.begin(),
          l.Batch.begin() + static_cast<std::ptrdiff_t>(size * static_cast<std::size_t>(count)));
    }
    const std::size_t n = records.size() / std::max<std::size_t>(1, size);
    keys.resize(n * keySize);
    for (std::size_t i = 0; i < n; ++i)
      BuildKey(def, std::span<const std::uint8_t>(records.data() + i * size, size),
               std::span<std::uint8_t>(keys.data() + i * keySize, keySize));
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return CompareKeys(def, keys.data() + a * keySize, keys.data() + b * keySize, keySize) < 0;
    });
    for (std::size_t i = 0; i < n && !FStop; ++i) {
      std::copy_n(records.begin() + static_cast<std::ptrdiff_t>(order[i] * size), size,
                  buffer.begin());
      visit();
    }
  } else if (!probeEmpty && FReadOnly) {
    // Records come in batches: one cursor operation (and one change check)
    // for many records. Nothing below moves this cursor.
    const std::size_t size = cursor.RecordSize();
    constexpr std::int32_t BatchRecords = 64;
    l.Batch.resize(size * BatchRecords);
    cursor.SetToBegin();
    TErrorCode code = 0;
    while (!FStop && code == 0) {
      std::int32_t count = BatchRecords;
      code = cursor.GetNextRecords(count, l.Batch);
      for (std::int32_t i = 0; i < count && !FStop; ++i) {
        std::copy_n(
            l.Batch.begin() + static_cast<std::ptrdiff_t>(size * static_cast<std::size_t>(i)), size,
            buffer.begin());
        visit();
      }
    }
  } else if (!probeEmpty) {
    cursor.SetToBegin();
    while (!FStop && cursor.GetNextRecord(buffer) == 0) visit();
  }
  if (!matched && l.LeftOuter && !FStop) {
    FSources.SetNoRecord(l.Table, true);
    if (passes(l.After)) Level(p + 1);
    FSources.SetNoRecord(l.Table, false);
  }
}

void TSqlCombinations::Run(const std::function<bool()>& emit) {
  FEmit = &emit;
  FStop = false;
  if (FSources.Count() == 0) return;
  FProgress =
      std::make_unique<TSqlProgress>(FContext, FSources.Cursor(FLevels[0].Table).GetRecordCount());
  FOrdinal = 0;
  Level(0);
  FProgress->Finish();
  FEmit = nullptr;
}

bool TSqlProgress::Step(std::int64_t ordinal) {
  if (!FContext.Progress || FTotal <= 0) return false;
  const int percent = static_cast<int>(std::min<std::int64_t>(100, ordinal * 100 / FTotal));
  if (percent >= FLast + FContext.ProgressSteps ||
      (!FReported && percent >= FContext.ProgressSteps)) {
    FLast = percent;
    FReported = true;
    if (FContext.Progress(percent)) FStopped = true;
  }
  return FStopped;
}

void TSqlProgress::Finish() {
  if (!FContext.Progress) return;
  if (!FReported || FLast != 100) {
    FLast = 100;
    FReported = true;
    FContext.Progress(100);
  }
}

std::size_t CheckSelect(const TSqlRunContext& context, const TQueryList& queries, int queryNo) {
  TSqlRunContext check = context;
  check.CheckOnly = true;
  check.Progress = {};
  const TDataQuery& query = *queries[static_cast<std::size_t>(queryNo)];
  TSelectRun run(check, queries, queryNo);
  run.Produce(query.UnionNext < 0 && !query.UnionMember);
  return run.Columns.size();
}

std::unique_ptr<TSelectResult> RunSelect(const TSqlRunContext& context, const TQueryList& queries,
                                         int queryNo) {
  const TDataQuery& query = *queries[static_cast<std::size_t>(queryNo)];
  {
    TSelectRun live(context, queries, queryNo);
    std::unique_ptr<TSqlSources> sources;
    if (live.TryLive(sources)) return std::make_unique<TLiveResult>(std::move(sources));
  }
  TSelectRun head(context, queries, queryNo);
  const bool chain = query.UnionNext >= 0;
  std::int64_t chainCount = -1;
  head.Produce(!chain);
  std::vector<TResultColumn> columns = head.Columns;
  std::vector<TSqlRow> rows = std::move(head.Rows);
  if (chain) {
    // The members run in order; merging from the end keeps each member's
    // rows after those of the members before it.
    chainCount = static_cast<std::int64_t>(rows.size());
    std::vector<std::vector<TSqlRow>> member;
    std::vector<bool> all;
    for (int q = query.UnionNext; q >= 0; q = queries[static_cast<std::size_t>(q)]->UnionNext) {
      TSelectRun run(context, queries, q);
      run.Produce(false);
      if (run.Columns.size() != columns.size())
        Fail("The number of columns in UNIONed queries must match");
      chainCount += static_cast<std::int64_t>(run.Rows.size());
      member.push_back(std::move(run.Rows));
    }
    for (int q = queryNo; queries[static_cast<std::size_t>(q)]->UnionNext >= 0;
         q = queries[static_cast<std::size_t>(q)]->UnionNext)
      all.push_back(queries[static_cast<std::size_t>(q)]->UnionAll);
    for (std::size_t k = member.size(); k-- > 0;) {
      std::vector<TSqlRow>& into = k == 0 ? rows : member[k - 1];
      AppendRows(into, columns, member[k]);
      if (!all[k]) DistinctRows(context, columns, into, query.IntoMemory);
    }
    if (!query.OrderBy.empty()) {
      std::vector<std::pair<int, bool>> keys;
      for (const TOrderByField& o : query.OrderBy) {
        int at = o.ColumnNo - 1;
        if (o.ColumnNo == 0)
          for (std::size_t i = 0; i < columns.size(); ++i)
            if (SameName(columns[i].Name, o.Name)) at = static_cast<int>(i);
        if (at < 0 || at >= static_cast<int>(columns.size()))
          Fail("Invalid ORDER BY column '" + o.Name + "' for a UNIONed query");
        keys.emplace_back(at, o.Descending);
      }
      SortResult(
          context, columns, rows,
          [&](const TSqlRow& a, const TSqlRow& b) {
            for (auto [at, desc] : keys) {
              int c = CompareCells(a[static_cast<std::size_t>(at)], b[static_cast<std::size_t>(at)],
                                   query.NoCase);
              if (desc) c = -c;
              if (c != 0) return c < 0;
            }
            return false;
          },
          query.IntoMemory);
    }
    if (query.ChainTop && static_cast<std::int64_t>(rows.size()) > *query.ChainTop)
      rows.resize(static_cast<std::size_t>(*query.ChainTop));
  }
  TResultTableOptions options;
  options.Into = query.Into;
  options.IntoMemory = query.IntoMemory;
  options.IntoPath = query.IntoPath;
  options.IntoName = query.IntoName;
  auto table = std::make_unique<TSqlResultTable>(*context.Directory, columns, options);
  table->Write(rows);
  auto result = std::make_unique<TCopiedResult>(std::move(table));
  if (chain) result->SetChainCount(chainCount);
  return result;
}

}  // namespace tarn
