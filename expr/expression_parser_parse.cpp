// TExpressionParser: recursive descent over the grammar of
// expression_parser.h. Every routine starts on its first token and leaves the
// token after what it parsed current.

#include <algorithm>
#include <cctype>

#include "engine/base/date_time.h"
#include "engine/base/literal_text.h"
#include "engine/base/names.h"
#include "engine/table/field_desc.h"
#include "engine/table/field_types.h"
#include "expr/exp_token_stack.h"
#include "expr/expression_parser.h"

namespace tarn {

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = UpperAsciiChar(c);
  return s;
}

struct TFunctionName {
  const char* Name;
  TExpOp Op;
};

constexpr TFunctionName FunctionNames[] = {
    {"LOWER", TExpOp::Lower},           {"UPPER", TExpOp::Upper},
    {"LENGTH", TExpOp::Length},         {"SUBSTRING", TExpOp::Substring},
    {"REPLACE", TExpOp::Replace},       {"POS", TExpOp::Pos},
    {"OCCURS", TExpOp::Occurs},         {"CAST", TExpOp::Cast},
    {"TRIM", TExpOp::Trim},             {"EXTRACT", TExpOp::Extract},
    {"ABS", TExpOp::Abs},               {"ROUND", TExpOp::Round},
    {"IF", TExpOp::If},                 {"IFNULL", TExpOp::IfNull},
    {"COALESCE", TExpOp::Coalesce},     {"TEXTSEARCH", TExpOp::TextSearch},
    {"TEXTOCCURS", TExpOp::TextOccurs}, {"LASTAUTOINC", TExpOp::LastAutoInc},
    {"IDENT_CURRENT", TExpOp::IdentCurrent},
};

constexpr const char* AggregateNames[] = {"SUM", "RUNSUM", "AVG", "MIN", "MAX", "COUNT"};

constexpr const char* ExtractParts[] = {"YEAR", "MONTH", "WEEK", "DAY", "DAYOFWEEK",
                                        "DAYOFYEAR", "HOUR", "MINUTE", "SECOND"};

// Increments a nesting counter for the life of one nested parse.
class TNestingGuard {
 public:
  explicit TNestingGuard(int& counter) : FCounter(counter) { ++FCounter; }
  ~TNestingGuard() { --FCounter; }
  TNestingGuard(const TNestingGuard&) = delete;
  TNestingGuard& operator=(const TNestingGuard&) = delete;

 private:
  int& FCounter;
};

// Sets a flag for the life of one nested parse and puts the old value back.
class TFlagGuard {
 public:
  TFlagGuard(bool& flag, bool value) : FFlag(flag), FSaved(flag) { FFlag = value; }
  ~TFlagGuard() { FFlag = FSaved; }
  TFlagGuard(const TFlagGuard&) = delete;
  TFlagGuard& operator=(const TFlagGuard&) = delete;

 private:
  bool& FFlag;
  bool FSaved;
};

// Restores the per-expression parse state when a nested ParseExpression (a
// sub-select's) returns.
class TParseStateGuard {
 public:
  TParseStateGuard(int& flags, int& nesting, bool& stopAtIn, int& depth)
      : FFlags(flags), FNesting(nesting), FStopAtIn(stopAtIn), FDepth(depth),
        FSavedFlags(flags), FSavedNesting(nesting), FSavedStopAtIn(stopAtIn) {
    ++FDepth;
  }
  ~TParseStateGuard() {
    FFlags = FSavedFlags;
    FNesting = FSavedNesting;
    FStopAtIn = FSavedStopAtIn;
    --FDepth;
  }
  TParseStateGuard(const TParseStateGuard&) = delete;
  TParseStateGuard& operator=(const TParseStateGuard&) = delete;

 private:
  int& FFlags;
  int& FNesting;
  bool& FStopAtIn;
  int& FDepth;
  int FSavedFlags;
  int FSavedNesting;
  bool FSavedStopAtIn;
};

// Sets an int for the life of one nested parse and puts the old value back.
class TIntGuard {
 public:
  TIntGuard(int& value, int newValue) : FValue(value), FSaved(value) { FValue = newValue; }
  ~TIntGuard() { FValue = FSaved; }
  TIntGuard(const TIntGuard&) = delete;
  TIntGuard& operator=(const TIntGuard&) = delete;

 private:
  int& FValue;
  int FSaved;
};

TExpTokenPtr MakeConstant(std::string text) {
  TExpTokenPtr node = NewExpToken();
  node->Kind = TExpTokenKind::Constant;
  node->Text = std::move(text);
  return node;
}

TExpTokenPtr MakeNullConstant(std::string text) {
  TExpTokenPtr node = MakeConstant(std::move(text));
  node->Value.SetNull(FieldType::Unknown);
  return node;
}

void SetStringConstant(TExpToken& node, std::string_view text) {
  node.DataType = FieldType::String;
  node.Size = static_cast<std::uint16_t>(std::min<std::size_t>(text.size() + 1, 65535));
  node.Value.SetOwnText(FieldType::String, text);
}

}  // namespace

TExpTokenPtr TExpressionParser::ParseExpression(int flags) {
  // A nested call (a sub-select inside an expression) keeps counting the
  // nesting of the outer expression, so that the depth bound holds across
  // sub-selects too.
  TParseStateGuard state(FFlags, FNesting, FStopAtIn, FExpressionDepth);
  FFlags = flags;
  if (FExpressionDepth == 1) FNesting = 0;
  FStopAtIn = false;
  return ParseOr();
}

void TExpressionParser::ParseDataType(TExpToken& type, const std::string& sourceName) {
  std::string saved = sourceName;
  FSourceName.swap(saved);
  try {
    ParseCastType(type);
  } catch (...) {
    FSourceName.swap(saved);
    throw;
  }
  FSourceName.swap(saved);
}

TExpTokenPtr TExpressionParser::ParseSubSelectNode() {
  TExpTokenPtr node = NewExpToken();
  node->Kind = TExpTokenKind::SubSelect;
  node->Text = "SELECT";
  node->Reference = FHooks->ParseSubSelect(*this);
  return node;
}

TExpTokenPtr TExpressionParser::ParseAggregate(TExpAggregate aggregate, std::string text) {
  // Current token: the "(" after the name.
  NextToken();
  TExpTokenPtr node = NewExpToken();
  node->Kind = TExpTokenKind::Aggregate;
  node->Option = static_cast<std::uint8_t>(aggregate);
  node->Text = std::move(text);
  if (aggregate == TExpAggregate::Count && IsChar('*')) {
    TExpTokenPtr all = NewExpToken();
    all->Kind = TExpTokenKind::Column;
    all->Text = "*";
    all->ColumnName = "*";
    node->List.push_back(std::move(all));
    NextToken();
  } else {
    // No aggregate inside an aggregate, and "*" only in COUNT(*).
    TIntGuard flags(FFlags, FFlags & ~(ExpParseFlags::Aggregates | ExpParseFlags::AllColumns));
    TFlagGuard stop(FStopAtIn, false);
    node->List.push_back(ParseOr());
  }
  ExpectClose(std::string("Right parentheses expected after ") + ExpAggregateName(aggregate) +
              " function argument, instead found '");
  node->Height = static_cast<std::uint16_t>(node->List.front()->Height + 1);
  CheckHeight(*node);
  return node;
}

TExpTokenPtr TExpressionParser::ParseFilter(std::string_view text, const TExpColumnResolver& resolveColumn) {
  SetText(text);
  NextToken();
  TExpTokenPtr root = ParseExpression(ExpParseFlags::Filter);
  BindExpression(FErrorCode, FTableName, *root, resolveColumn);
  if (root->DataType != FieldType::Boolean) Fail("filter expression must be a boolean expression");
  return root;
}

void TExpressionParser::CheckHeight(const TExpToken& node) {
  if (node.Height > MaxHeight) FailIn("Expression is too complex in");
}

TExpTokenPtr TExpressionParser::MakeUnary(TExpOp op, std::string text, TExpTokenPtr operand) {
  TExpTokenPtr node = NewExpToken();
  node->Kind = TExpTokenKind::Unary;
  node->Op = op;
  node->Text = std::move(text);
  node->Height = static_cast<std::uint16_t>(operand->Height + 1);
  node->Left = std::move(operand);
  CheckHeight(*node);
  return node;
}

TExpTokenPtr TExpressionParser::MakeBinary(TExpOp op, std::string text, TExpTokenPtr left, TExpTokenPtr right) {
  TExpTokenPtr node = NewExpToken();
  node->Kind = TExpTokenKind::Binary;
  node->Op = op;
  node->Text = std::move(text);
  node->Height = static_cast<std::uint16_t>(std::max(left->Height, right->Height) + 1);
  node->Left = std::move(left);
  node->Right = std::move(right);
  CheckHeight(*node);
  return node;
}

TExpTokenPtr TExpressionParser::ParseOr() {
  TNestingGuard nesting(FNesting);
  if (FNesting > MaxNesting) FailIn("Expression is too complex in");
  TExpTokenPtr left = ParseAnd();
  while (IsKeyword("OR")) {
    NextToken();
    TExpTokenPtr right = ParseAnd();
    left = MakeBinary(TExpOp::Or, "OR", std::move(left), std::move(right));
  }
  return left;
}

TExpTokenPtr TExpressionParser::ParseAnd() {
  TExpTokenPtr left = ParseNot();
  while (IsKeyword("AND")) {
    NextToken();
    TExpTokenPtr right = ParseNot();
    left = MakeBinary(TExpOp::And, "AND", std::move(left), std::move(right));
  }
  return left;
}

TExpTokenPtr TExpressionParser::ParseNot() {
  if (!IsKeyword("NOT")) return ParsePredicate();
  NextToken();
  return MakeUnary(TExpOp::Not, "NOT", ParsePredicate());
}

void TExpressionParser::RequireExtended() {
  if ((FFlags & ExpParseFlags::Extended) == 0)
    FailIn("Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in");
}

TExpTokenPtr TExpressionParser::ParsePredicate() {
  TExpTokenPtr left = ParseSum();
  TExpOp op = TExpOp::None;
  std::string text;
  if (IsChar('=')) {
    op = TExpOp::Equal;
    text = "=";
    NextToken();
  } else if (IsChar('<')) {
    NextToken();
    if (IsChar('>') && Adjacent()) {
      op = TExpOp::NotEqual;
      text = "<>";
      NextToken();
    } else if (IsChar('=') && Adjacent()) {
      op = TExpOp::LessEqual;
      text = "<=";
      NextToken();
    } else {
      op = TExpOp::Less;
      text = "<";
    }
  } else if (IsChar('>')) {
    NextToken();
    if (IsChar('=') && Adjacent()) {
      op = TExpOp::GreaterEqual;
      text = ">=";
      NextToken();
    } else {
      op = TExpOp::Greater;
      text = ">";
    }
  }
  if (op != TExpOp::None) return MakeBinary(op, std::move(text), std::move(left), ParseSum());

  bool negated = false;
  if (IsKeyword("NOT")) {
    RequireExtended();
    NextToken();
    negated = true;
    if (!IsKeyword("BETWEEN") && !IsKeyword("LIKE") && !IsKeyword("IN")) FailFound("Unknown or unexpected symbol '");
  }
  if (IsKeyword("BETWEEN")) {
    RequireExtended();
    NextToken();
    TExpTokenPtr low = ParseSum();
    if (!IsKeyword("AND"))
      FailFound(negated ? "Expected AND operator in NOT BETWEEN operator, instead found '"
                        : "Expected AND operator in BETWEEN operator, instead found '");
    NextToken();
    TExpTokenPtr high = ParseSum();
    TExpTokenPtr node = NewExpToken();
    node->Kind = TExpTokenKind::List;
    node->Op = negated ? TExpOp::NotBetween : TExpOp::Between;
    node->Text = negated ? "NOT BETWEEN" : "BETWEEN";
    node->Height = static_cast<std::uint16_t>(std::max({left->Height, low->Height, high->Height}) + 1);
    node->Left = std::move(left);
    node->List.push_back(std::move(low));
    node->List.push_back(std::move(high));
    CheckHeight(*node);
    return node;
  }
  if (IsKeyword("LIKE")) {
    RequireExtended();
    NextToken();
    return MakeBinary(negated ? TExpOp::NotLike : TExpOp::Like, negated ? "NOT LIKE" : "LIKE", std::move(left),
                      ParseSum());
  }
  if (IsKeyword("IN") && (negated || !FStopAtIn)) {
    RequireExtended();
    NextToken();
    return ParseInList(std::move(left), negated ? TExpOp::NotIn : TExpOp::In);
  }
  if (IsKeyword("IS")) {
    RequireExtended();
    NextToken();
    bool isNot = false;
    if (IsKeyword("NOT")) {
      isNot = true;
      NextToken();
    }
    if (!IsKeyword("NULL")) Fail("Unknown or unexpected symbol '" + TokenText() + "' found in " + FSourceName);
    TExpTokenPtr nullConstant = MakeNullConstant(TokenText());
    NextToken();
    return MakeBinary(isNot ? TExpOp::NotEqual : TExpOp::Equal, isNot ? "<>" : "=", std::move(left),
                      std::move(nullConstant));
  }
  return left;
}

TExpTokenPtr TExpressionParser::ParseInList(TExpTokenPtr left, TExpOp op) {
  const bool negated = op == TExpOp::NotIn;
  if (!IsChar('('))
    FailFound(negated ? "Expected left parentheses for NOT IN operator, instead found '"
                      : "Expected left parentheses for IN operator, instead found '");
  NextToken();
  if (IsKeyword("SELECT")) {
    if (!SubSelectsOn()) FailIn("Sub-select queries are not allowed in");
    TExpTokenPtr node = NewExpToken();
    node->Kind = TExpTokenKind::List;
    node->Op = op;
    node->Text = negated ? "NOT IN" : "IN";
    TExpTokenPtr select = ParseSubSelectNode();
    node->Height = static_cast<std::uint16_t>(std::max(left->Height, select->Height) + 1);
    node->Left = std::move(left);
    node->List.push_back(std::move(select));
    if (!IsChar(')'))
      FailFound(negated ? "Expected right parentheses after NOT IN operator, instead found '"
                        : "Expected right parentheses after IN operator, instead found '");
    NextToken();
    CheckHeight(*node);
    return node;
  }
  if (IsChar(')'))
    FailIn(negated ? "You must provide at least one value as an operand of the NOT IN operator  in"
                   : "You must provide at least one value as an operand of the IN operator  in");
  TExpTokenPtr node = NewExpToken();
  node->Kind = TExpTokenKind::List;
  node->Op = op;
  node->Text = negated ? "NOT IN" : "IN";
  std::uint16_t height = left->Height;
  node->Left = std::move(left);
  for (;;) {
    TExpTokenPtr item = ParseSum();
    height = std::max(height, item->Height);
    node->List.push_back(std::move(item));
    if (!IsChar(',')) break;
    NextToken();
  }
  if (!IsChar(')'))
    FailFound(negated ? "Expected right parentheses after NOT IN operator, instead found '"
                      : "Expected right parentheses after IN operator, instead found '");
  NextToken();
  node->Height = static_cast<std::uint16_t>(height + 1);
  CheckHeight(*node);
  return node;
}

TExpTokenPtr TExpressionParser::ParseSum() {
  TExpTokenPtr left = ParseProduct();
  for (;;) {
    std::string text;
    if (IsChar('+')) {
      text = "+";
    } else if (IsChar('-')) {
      text = "-";
    } else if (IsChar('|')) {
      NextToken();
      if (!IsChar('|') || !Adjacent())
        FailFound(
            "Second concatenation symbol '|' expected after first concatentation symbol, instead found '");
      text = "||";
    } else {
      return left;
    }
    NextToken();
    const TExpOp op = text == "-" ? TExpOp::Subtract : TExpOp::Add;
    TExpTokenPtr right = ParseProduct();
    left = MakeBinary(op, std::move(text), std::move(left), std::move(right));
  }
}

TExpTokenPtr TExpressionParser::ParseProduct() {
  TExpTokenPtr left = ParseSigned();
  for (;;) {
    TExpOp op;
    if (IsChar('*')) {
      op = TExpOp::Multiply;
    } else if (IsChar('/')) {
      op = TExpOp::Divide;
    } else {
      return left;
    }
    std::string text = TokenText();
    NextToken();
    TExpTokenPtr right = ParseSigned();
    left = MakeBinary(op, std::move(text), std::move(left), std::move(right));
  }
}

TExpTokenPtr TExpressionParser::ParseSigned() {
  if (IsChar('+')) {
    NextToken();
    return MakeUnary(TExpOp::Plus, "+", ParsePrimary());
  }
  if (IsChar('-')) {
    NextToken();
    return MakeUnary(TExpOp::Negate, "-", ParsePrimary());
  }
  return ParsePrimary();
}

TExpTokenPtr TExpressionParser::ParsePrimary() {
  switch (FTokenKind) {
    case '(': {
      NextToken();
      if (IsKeyword("SELECT") && SubSelectsOn()) {
        TExpTokenPtr select = ParseSubSelectNode();
        if (!IsChar(')')) FailFound("Right parentheses expected, instead found '");
        NextToken();
        return select;
      }
      TExpTokenPtr inner;
      {
        TFlagGuard stop(FStopAtIn, false);
        inner = ParseOr();
      }
      if (!IsChar(')')) FailFound("Right parentheses expected, instead found '");
      NextToken();
      return inner;
    }
    case ExpScan::String: {
      std::string text = TokenText();
      NextToken();
      if (IsChar('.')) return ParseQualified(std::move(text));
      TExpTokenPtr node = MakeConstant(text);
      node->Quoted = true;
      if (text.empty())
        node->Value.SetNull(FieldType::Unknown);  // the empty string is NULL
      else
        SetStringConstant(*node, text);
      return node;
    }
    case ExpScan::QuotedName: {
      std::string name = TokenText();
      NextToken();
      if (IsChar('.')) return ParseQualified(std::move(name));
      TExpTokenPtr node = NewExpToken();
      node->Kind = TExpTokenKind::Column;
      node->Text = name;
      node->ColumnName = std::move(name);
      return node;
    }
    case ExpScan::CharConstant: {
      const std::string text = TokenText();
      const std::string digits = text.substr(1);
      const std::optional<std::int64_t> code = digits.size() <= 9 ? ParseIntegerText(digits, 0, 255) : std::nullopt;
      if (!code) FailIn("Character constants (#) must be within the range of 0 to 255 in");
      NextToken();
      TExpTokenPtr node = MakeConstant(text);
      SetStringConstant(*node, std::string(1, static_cast<char>(*code)));
      return node;
    }
    case ExpScan::Integer: {
      const std::string text = TokenText();
      const TIntegerLiteral literal = ClassifyIntegerLiteral(text);
      TExpTokenPtr node = MakeConstant(text);
      switch (literal.Kind) {
        case TIntegerLiteralKind::Int32:
          node->DataType = FieldType::Int32;
          node->Value.SetInt(FieldType::Int32, literal.IntValue);
          break;
        case TIntegerLiteralKind::Int64:
          node->DataType = FieldType::Int64;
          node->Value.SetInt(FieldType::Int64, literal.IntValue);
          break;
        case TIntegerLiteralKind::Float:
          node->DataType = FieldType::Float;
          node->Value.SetFloat(FieldType::Float, literal.FloatValue);
          break;
        case TIntegerLiteralKind::Invalid:
          Fail("Constant '" + text + "' is not a valid number in " + FSourceName);
      }
      NextToken();
      return node;
    }
    case ExpScan::Number: {
      const std::string text = TokenText();
      const std::optional<double> value = ParseFloatText(text);
      if (!value) Fail("Constant '" + text + "' is not a valid number in " + FSourceName);
      TExpTokenPtr node = MakeConstant(text);
      node->DataType = FieldType::Float;
      node->Value.SetFloat(FieldType::Float, *value);
      NextToken();
      return node;
    }
    case ExpScan::Identifier:
      return ParseIdentifier();
    case '*': {
      if ((FFlags & ExpParseFlags::AllColumns) == 0) FailIn("* (all columns) symbol is not allowed in");
      NextToken();
      TExpTokenPtr node = NewExpToken();
      node->Kind = TExpTokenKind::Column;
      node->Text = "*";
      node->ColumnName = "*";
      return node;
    }
    case '?': {
      if ((FFlags & ExpParseFlags::Parameters) == 0) FailIn("Parameters are not allowed in");
      TExpTokenPtr node = NewExpToken();
      node->Kind = TExpTokenKind::Parameter;
      node->Text = "?";
      if (FHooks != nullptr) node->Reference = FHooks->ParameterFound(*node);
      NextToken();
      return node;
    }
    default:
      FailFound("Unknown or unexpected symbol '");
  }
}

bool TExpressionParser::IsFunctionName(std::string_view word) {
  const std::string upper = Upper(std::string(word));
  for (const TFunctionName& f : FunctionNames)
    if (upper == f.Name) return true;
  return false;
}

bool TExpressionParser::ArgumentStopsAtIn(TExpOp op, std::size_t index) {
  switch (op) {
    case TExpOp::Pos:
    case TExpOp::Occurs:
    case TExpOp::TextSearch:
    case TExpOp::TextOccurs:
      return index == 0;
    case TExpOp::Replace:
      return index <= 1;
    default:
      return false;
  }
}

TExpTokenPtr TExpressionParser::ParseIdentifier() {
  const std::string word = TokenText();
  const std::string upper = Upper(word);
  if (upper == "TRUE" || upper == "FALSE") {
    NextToken();
    TExpTokenPtr node = MakeConstant(word);
    node->DataType = FieldType::Boolean;
    node->Value.SetBool(upper == "TRUE");
    return node;
  }
  if (upper == "NULL") {
    NextToken();
    return MakeNullConstant(word);
  }
  if (upper == "CURRENT_DATE" || upper == "CURRENT_TIME" || upper == "CURRENT_TIMESTAMP") {
    NextToken();
    if (IsChar('(')) {
      NextToken();
      if (!IsChar(')'))
        FailFound("Right parentheses expected after first " + upper + " function parentheses, instead found '");
      NextToken();
    }
    TExpTokenPtr node = MakeConstant(word);
    if (upper == "CURRENT_DATE") {
      node->DataType = FieldType::Date;
      node->Value.SetInt(FieldType::Date, CurrentDate());
    } else if (upper == "CURRENT_TIME") {
      node->DataType = FieldType::Time;
      node->Value.SetInt(FieldType::Time, CurrentTime());
    } else {
      node->DataType = FieldType::Timestamp;
      node->Value.SetFloat(FieldType::Timestamp, CurrentTimestamp());
    }
    return node;
  }
  for (const TFunctionName& f : FunctionNames)
    if (upper == f.Name) return ParseFunction(f.Op);
  NextToken();
  if (IsChar('(')) {
    for (std::size_t i = 0; i < std::size(AggregateNames); ++i) {
      if (upper != AggregateNames[i]) continue;
      if ((FFlags & ExpParseFlags::Aggregates) == 0) FailIn("Aggregate functions are not allowed in");
      return ParseAggregate(static_cast<TExpAggregate>(i), upper);
    }
    Fail("Unknown or unexpected function '" + word + "' found in " + FSourceName);
  }
  if (IsChar('.')) return ParseQualified(word);
  TExpTokenPtr node = NewExpToken();
  node->Kind = TExpTokenKind::Column;
  node->Text = word;
  node->ColumnName = word;
  return node;
}

TExpTokenPtr TExpressionParser::ParseQualified(std::string correlation) {
  NextToken();  // past "."
  if (IsChar('*')) {
    if ((FFlags & ExpParseFlags::AllColumns) == 0) FailIn("* (all columns) symbol is not allowed in");
    NextToken();
    TExpTokenPtr node = NewExpToken();
    node->Kind = TExpTokenKind::Column;
    node->Text = "*";
    node->ColumnName = "*";
    node->Correlation = std::move(correlation);
    return node;
  }
  if (FTokenKind != ExpScan::Identifier && FTokenKind != ExpScan::QuotedName && FTokenKind != ExpScan::String)
    FailFound("Symbol or string expression expected after table correlation name separator '.', instead found '");
  TExpTokenPtr node = NewExpToken();
  node->Kind = TExpTokenKind::Column;
  node->ColumnName = TokenText();
  node->Text = node->ColumnName;
  node->Correlation = std::move(correlation);
  NextToken();
  return node;
}

TExpTokenPtr TExpressionParser::ParseArgument(bool stopAtIn) {
  TFlagGuard stop(FStopAtIn, stopAtIn);
  return ParseOr();
}

void TExpressionParser::ExpectClose(const std::string& message) {
  if (!IsChar(')')) FailFound(message);
  NextToken();
}

TExpTokenPtr TExpressionParser::ParseFunction(TExpOp op) {
  const std::string name = ExpOpName(op);
  NextToken();
  if (!IsChar('(')) FailFound("Left parentheses expected after " + name + " keyword, instead found '");
  NextToken();
  TExpTokenPtr node = NewExpToken();
  node->Kind = TExpTokenKind::Function;
  node->Op = op;
  node->Text = name;
  const std::string closeOne = "Right parentheses expected after " + name + " function argument, instead found '";
  const std::string closeMany = "Right parentheses expected after " + name + " function arguments, instead found '";
  const auto add = [&](TExpTokenPtr arg) { node->List.push_back(std::move(arg)); };
  // The next argument, read up to IN where the function wants that.
  const auto argument = [&] { return ParseArgument(ArgumentStopsAtIn(op, node->List.size())); };
  const auto expectKeyword = [&](const char* keyword, const std::string& message) {
    if (!IsKeyword(keyword)) FailFound(message);
    NextToken();
  };
  const auto expectKeywordOrComma = [&](const char* keyword, const std::string& message) {
    if (!IsKeyword(keyword) && !IsChar(',')) FailFound(message);
    NextToken();
  };

  switch (op) {
    case TExpOp::Lower:
    case TExpOp::Upper:
    case TExpOp::Length:
    case TExpOp::Abs:
    case TExpOp::LastAutoInc:
    case TExpOp::IdentCurrent:
      add(argument());
      ExpectClose(closeOne);
      break;
    case TExpOp::TextSearch:
    case TExpOp::TextOccurs:
      add(argument());
      expectKeyword("IN", "IN keyword expected after first " + name + " function argument, instead found '");
      add(argument());
      ExpectClose(closeOne);
      break;
    case TExpOp::Substring:
      add(argument());
      expectKeyword("FROM", "FROM keyword expected after first SUBSTRING function argument, instead found '");
      add(argument());
      if (IsKeyword("FOR")) {
        NextToken();
        add(argument());
      }
      ExpectClose(closeMany);
      break;
    case TExpOp::Replace:
      add(argument());
      expectKeyword("WITH", "WITH keyword expected after first REPLACE function argument, instead found '");
      add(argument());
      expectKeyword("IN", "IN keyword expected after second REPLACE function argument, instead found '");
      add(argument());
      ExpectClose(closeMany);
      break;
    case TExpOp::Pos:
    case TExpOp::Occurs:
      add(argument());
      expectKeyword("IN", "IN keyword expected after first " + name + " function argument, instead found '");
      add(argument());
      ExpectClose(closeMany);
      break;
    case TExpOp::Cast:
      add(argument());
      expectKeyword("AS", "AS keyword expected after first CAST function argument, instead found '");
      ParseCastType(*node);
      ExpectClose(closeMany);
      break;
    case TExpOp::Trim:
      if (IsKeyword("LEADING"))
        node->Option = static_cast<std::uint8_t>(TTrimSide::Leading);
      else if (IsKeyword("TRAILING"))
        node->Option = static_cast<std::uint8_t>(TTrimSide::Trailing);
      else if (IsKeyword("BOTH"))
        node->Option = static_cast<std::uint8_t>(TTrimSide::Both);
      else
        FailFound("LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found '");
      NextToken();
      add(argument());
      expectKeyword("FROM", "FROM keyword expected after second TRIM function argument, instead found '");
      add(argument());
      ExpectClose(closeMany);
      break;
    case TExpOp::Extract: {
      bool found = false;
      for (std::size_t i = 0; i < std::size(ExtractParts); ++i) {
        if (IsKeyword(ExtractParts[i])) {
          node->Option = static_cast<std::uint8_t>(i);
          found = true;
        }
      }
      if (!found)
        FailFound(
            "YEAR, MONTH, WEEK, DAY, DAYOFWEEK, DAYOFYEAR, HOUR, MINUTE, or SECOND keyword expected after "
            "EXTRACT keyword, instead found '");
      NextToken();
      expectKeyword("FROM", "FROM keyword expected after second EXTRACT function argument, instead found '");
      add(argument());
      ExpectClose(closeMany);
      break;
    }
    case TExpOp::Round:
      add(argument());
      if (IsKeyword("TO")) {
        NextToken();
        add(argument());
      }
      ExpectClose(closeMany);
      break;
    case TExpOp::If:
    case TExpOp::IfNull:
      add(argument());
      expectKeywordOrComma("THEN",
                           "THEN keyword or comma expected after first " + name + " function argument, instead found '");
      add(argument());
      expectKeywordOrComma("ELSE",
                           "ELSE keyword or comma expected after second " + name + " function argument, instead found '");
      add(argument());
      ExpectClose(closeMany);
      break;
    case TExpOp::Coalesce:
      if (IsChar(')'))
        FailIn("You must provide at least one value as an argument of the COALESCE operator  in");
      for (;;) {
        add(argument());
        if (!IsChar(',')) break;
        NextToken();
      }
      ExpectClose("Expected right parentheses after COALESCE expression arguments, instead found '");
      break;
    default:
      break;
  }
  std::uint16_t height = 0;
  for (const TExpTokenPtr& arg : node->List) height = std::max(height, arg->Height);
  node->Height = static_cast<std::uint16_t>(height + 1);
  CheckHeight(*node);
  return node;
}

int TExpressionParser::ParseTypeInteger(const char* message) {
  if (FTokenKind != ExpScan::Integer) FailIn(message);
  const std::optional<std::int64_t> value = ParseIntegerText(TokenText(), 0, 2147483647);
  if (!value) FailIn(message);
  NextToken();
  return static_cast<int>(*value);
}

void TExpressionParser::ParseCastType(TExpToken& cast) {
  const std::string keyword = FTokenKind == ExpScan::Identifier ? Upper(TokenText()) : std::string();
  const auto is = [&](std::initializer_list<const char*> names) {
    for (const char* n : names)
      if (keyword == n) return true;
    return false;
  };
  const auto setType = [&](std::uint8_t type, std::uint8_t subType, std::uint16_t size) {
    cast.DataType = type;
    cast.SubType = subType;
    cast.Size = size;
  };
  const auto closeParen = [&] {
    if (!IsChar(')')) FailFound("Right parentheses expected, instead found '");
    NextToken();
  };
  constexpr int MaxLength = FieldDescLayout::MaxFieldSize;
  const auto parseLength = [&](const std::string& typeName) {
    if (!IsChar('(')) FailFound("Left parentheses expected after " + typeName + " keyword, instead found '");
    NextToken();
    const int length = ParseTypeInteger("Length argument must be an integer in");
    if (length < 1 || length > MaxLength)
      Fail("Length argument must be an integer greater than 0 and less than or equal to " +
           std::to_string(MaxLength) + " in " + FSourceName);
    closeParen();
    return length;
  };

  if (is({"SMALLINT"})) {
    NextToken();
    setType(FieldType::Int16, 0, 2);
  } else if (is({"WORD"})) {
    NextToken();
    setType(FieldType::UInt16, 0, 2);
  } else if (is({"INTEGER", "INT"})) {
    NextToken();
    setType(FieldType::Int32, 0, 4);
  } else if (is({"LARGEINT"})) {
    NextToken();
    setType(FieldType::Int64, 0, 8);
  } else if (is({"AUTOINC"})) {
    NextToken();
    setType(FieldType::Int32, FieldSubType::AutoInc, 4);
  } else if (is({"DECIMAL", "NUMERIC", "FLOAT"})) {
    const bool bcd = keyword != "FLOAT";
    NextToken();
    int scale = 0;
    if (IsChar('(')) {
      NextToken();
      ParseTypeInteger("Length argument must be an integer in");
      if (IsChar(',')) {
        NextToken();
        scale = ParseTypeInteger("Scale argument must be an integer in");
        if (bcd && scale > 4)
          Fail("Scale argument must be an integer less than or equal to 4 but greater than or equal to 0 for the "
               "BCD data type in " +
               FSourceName);
      }
      closeParen();
    }
    if (bcd) {
      setType(FieldType::Bcd, 0, 34);
      cast.Scale = static_cast<std::uint8_t>(scale);
    } else {
      setType(FieldType::Float, 0, 8);
    }
  } else if (is({"MONEY"})) {
    NextToken();
    setType(FieldType::Float, FieldSubType::Money, 8);
  } else if (is({"CHARACTER", "CHAR", "VARCHAR"})) {
    NextToken();
    const int length = parseLength(keyword);
    setType(FieldType::String, 0, static_cast<std::uint16_t>(length + 1));
  } else if (is({"BYTES", "VARBYTES", "BINARY", "VARBINARY"})) {
    NextToken();
    const int length = parseLength(keyword);
    setType(FieldType::Bytes, 0, static_cast<std::uint16_t>(length));
  } else if (is({"DATE"})) {
    NextToken();
    setType(FieldType::Date, 0, 4);
  } else if (is({"TIME"})) {
    NextToken();
    setType(FieldType::Time, 0, 4);
  } else if (is({"TIMESTAMP"})) {
    NextToken();
    setType(FieldType::Timestamp, 0, 8);
  } else if (is({"BOOLEAN", "BOOL", "BIT"})) {
    NextToken();
    setType(FieldType::Boolean, 0, 2);
  } else if (is({"BLOB"})) {
    NextToken();
    std::uint8_t subType = FieldSubType::None;
    if (IsChar('(')) {
      NextToken();
      ParseTypeInteger("Length argument must be an integer in");
      if (IsChar(',')) {
        NextToken();
        // Blob types: 1 memo, 2 binary, 3 formatted memo, 5 graphic, 7 typed binary.
        const int blobType = ParseTypeInteger("BLOB type argument must be an integer with a value of 1,2,3,5, or 7 in");
        switch (blobType) {
          case 1: subType = FieldSubType::Memo; break;
          case 2: subType = FieldSubType::None; break;
          case 3: subType = FieldSubType::FormattedMemo; break;
          case 5: subType = FieldSubType::Graphic; break;
          case 7: subType = FieldSubType::TypedBinary; break;
          default: FailIn("BLOB type argument must be an integer with a value of 1,2,3,5, or 7 in");
        }
      }
      closeParen();
    }
    setType(FieldType::Blob, subType, 8);
  } else if (is({"LONGVARBINARY"})) {
    NextToken();
    setType(FieldType::Blob, FieldSubType::None, 8);
  } else if (is({"LONGVARCHAR", "MEMO"})) {
    NextToken();
    setType(FieldType::Blob, FieldSubType::Memo, 8);
  } else if (is({"GRAPHIC"})) {
    NextToken();
    setType(FieldType::Blob, FieldSubType::Graphic, 8);
  } else {
    FailFound("SQL data type keyword expected, instead found '");
  }
}

}  // namespace tarn
