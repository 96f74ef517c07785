#pragma once
// The expression language of filters: scanner, parser and binding pass.
//
// TExpressionParser turns an expression text into a tree of TExpToken nodes
// (exp_token.h) and binds it: names are resolved against the table, string
// constants next to dates, times and timestamps are converted, and every node
// gets its data type. A bound tree is read-only; evaluators walk it without
// checking types again.
//
// Grammar (lowest precedence first; every binary operator is left-associative):
//   expression  conjunction { OR conjunction }
//   conjunction negation { AND negation }
//   negation    NOT predicate | predicate      (a second NOT is read as a name)
//   predicate   sum [ comparison sum | [NOT] BETWEEN sum AND sum
//                    | [NOT] LIKE sum | [NOT] IN "(" sum { "," sum } ")"
//                    | IS [NOT] NULL ]
//   sum         product { ("+" | "-" | "||") product }
//   product     signed { ("*" | "/") signed }
//   signed      ["+" | "-"] primary
//   primary     literal | column | function | "(" expression ")"
// Text after a complete expression is not examined. x IS NULL is the
// comparison x = NULL, x IS NOT NULL the comparison x <> NULL.
//
// Scanner token kinds (NextToken): 0 end of text, 1 identifier, 2 [quoted
// name], 3 string in single or double quotes, 4 "#" character constant,
// 5 integer, 6 number; any other character is a token of its own whose kind
// is its character code. White space (codes 1 to 32) and /* comments */ are
// skipped.
//
// Errors: every parse and binding failure raises the parser's engine error
// (10051 for filters) naming the table, with a message that ends in " in "
// and the source description ("filter expression"). Nothing of a failed
// parse is kept: the partial tree goes back to the pool.
//
// SQL statements share this scanner and grammar. Their parser installs
// TExpSqlHooks (the switch for the SQL-only constructs) and passes the flags
// below: aggregates SUM, RUNSUM, AVG, MIN, MAX and COUNT (Aggregate nodes;
// COUNT(*) takes a "*" column), "*" and correlation.* (Column nodes named
// "*"), "?" parameters (Parameter nodes, reported to the hooks in text
// order) and sub-selects "(" SELECT ... ")", also as the one operand of
// IN / NOT IN (SubSelect nodes; the hooks parse the select). Without hooks
// and flags the parser accepts exactly the filter language.
//
// Threads: a parser belongs to one cursor and is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/base/error_codes.h"
#include "expr/exp_record_source.h"
#include "expr/exp_token.h"

namespace tarn {

// ParseExpression flags.
namespace ExpParseFlags {
inline constexpr int Aggregates = 1;
inline constexpr int AllColumns = 2;
inline constexpr int Extended = 4;  // LIKE, BETWEEN, IN, IS NULL
inline constexpr int Parameters = 8;
inline constexpr int SubSelects = 16;
// What a filter is parsed with.
inline constexpr int Filter = Extended;
}  // namespace ExpParseFlags

// Scanner token kinds below 32 (other kinds are character codes).
namespace ExpScan {
inline constexpr int End = 0;
inline constexpr int Identifier = 1;
inline constexpr int QuotedName = 2;
inline constexpr int String = 3;
inline constexpr int CharConstant = 4;
inline constexpr int Integer = 5;
inline constexpr int Number = 6;
}  // namespace ExpScan

class TExpressionParser;

// What the SQL statement parser provides for the SQL-only constructs.
class TExpSqlHooks {
 public:
  virtual ~TExpSqlHooks() = default;
  // Called on the SELECT keyword of a sub-select (the "(" before it already
  // consumed); parses the select up to, not including, its closing ")" and
  // returns the number the statement gives the new query.
  virtual std::int32_t ParseSubSelect(TExpressionParser& parser) = 0;
  // Called for each "?" in text order; returns its 1-based position among
  // the statement's parameter markers.
  virtual std::int32_t ParameterFound(TExpToken& parameter) = 0;
};

class TExpressionParser {
 public:
  // Parentheses and function arguments nest at most this deep, and a tree is
  // at most MaxHeight nodes high; deeper input fails with "Expression is too
  // complex in" so that no pass over a tree can exhaust the stack.
  static constexpr int MaxNesting = 128;
  static constexpr int MaxHeight = 1024;

  // True for a word read as a function wherever an expression starts (LOWER,
  // CAST, ...; letter case ignored): a column or table of that name must be
  // written in brackets there.
  static bool IsFunctionName(std::string_view word);
  // True when argument `index` (from 0) of function op is read up to an IN
  // (or WITH) keyword, so that a plain IN predicate there must stand in
  // parentheses: the first of POS, OCCURS, TEXTSEARCH and TEXTOCCURS, the
  // first two of REPLACE.
  static bool ArgumentStopsAtIn(TExpOp op, std::size_t index);

  explicit TExpressionParser(TErrorCode errorCode = TARN_INVALIDFILTER, std::string tableName = {},
                             std::string sourceName = "filter expression");

  // Copies text (up to a zero byte) and resets the scanner.
  void SetText(std::string_view text);
  // Scans the next token and returns its kind.
  int NextToken();
  int TokenKind() const { return FTokenKind; }
  // The current token's text: quotes or brackets removed, doubled quotes made
  // single.
  std::string TokenText() const;

  // Parses one expression from the current token and returns its root; text
  // after it is not examined. Throws the parser's engine error. May be called
  // again from a hook while an expression is being parsed (a sub-select).
  TExpTokenPtr ParseExpression(int flags);

  // ---- SQL statements ----
  // Switches the SQL-only constructs on (hooks) or off (nullptr).
  void SetSqlHooks(TExpSqlHooks* hooks) { FHooks = hooks; }
  void SetSourceName(std::string sourceName) { FSourceName = std::move(sourceName); }
  void SetErrorCode(TErrorCode errorCode) { FErrorCode = errorCode; }
  // The current token is the identifier word (letter case ignored), or the
  // one-character token c.
  bool IsKeyword(const char* word) const;
  bool IsChar(char c) const { return FTokenKind == static_cast<unsigned char>(c); }
  // Byte offset of the current token in the text.
  std::size_t TokenStart() const { return FTokenStart; }
  const std::string& Text() const { return FText; }
  // A data type of CAST (SMALLINT, VARCHAR(n), DECIMAL(p, s), BLOB(n, t),
  // ...) from the current token into type's DataType, SubType, Size (strings:
  // characters + 1) and Scale; messages name sourceName.
  void ParseDataType(TExpToken& type, const std::string& sourceName);

  // Checks and types the tree under root (depth first), resolving columns
  // through resolveColumn, and numbers the nodes' evaluation slots. Root may
  // change in place (a quoted name becoming a column, a string becoming a
  // date). Throws errorCode naming tableName.
  void BindExpression(TErrorCode errorCode, std::string_view tableName, TExpToken& root,
                      const TExpColumnResolver& resolveColumn);

  // Filter set-up: SetText, NextToken, ParseExpression(Filter), binding; a
  // root that is not boolean fails with "filter expression must be a boolean
  // expression". Throws the parser's engine error.
  TExpTokenPtr ParseFilter(std::string_view text, const TExpColumnResolver& resolveColumn);

  const std::string& TableName() const { return FTableName; }
  const std::string& SourceName() const { return FSourceName; }

 private:
  // Scanning.
  void SkipBlanks();
  // The current token starts right where the previous one ended.
  bool Adjacent() const { return FTokenStart == FPreviousEnd; }

  // Parsing (expression_parser_parse.cpp).
  TExpTokenPtr ParseOr();
  TExpTokenPtr ParseAnd();
  TExpTokenPtr ParseNot();
  TExpTokenPtr ParsePredicate();
  TExpTokenPtr ParseSum();
  TExpTokenPtr ParseProduct();
  TExpTokenPtr ParseSigned();
  TExpTokenPtr ParsePrimary();
  TExpTokenPtr ParseIdentifier();
  TExpTokenPtr ParseQualified(std::string correlation);
  TExpTokenPtr ParseFunction(TExpOp op);
  TExpTokenPtr ParseArgument(bool stopAtIn);
  void ParseCastType(TExpToken& cast);
  int ParseTypeInteger(const char* message);
  TExpTokenPtr ParseInList(TExpTokenPtr left, TExpOp op);
  TExpTokenPtr ParseAggregate(TExpAggregate aggregate, std::string text);
  TExpTokenPtr ParseSubSelectNode();
  bool SubSelectsOn() const { return FHooks != nullptr && (FFlags & ExpParseFlags::SubSelects) != 0; }
  TExpTokenPtr MakeUnary(TExpOp op, std::string text, TExpTokenPtr operand);
  TExpTokenPtr MakeBinary(TExpOp op, std::string text, TExpTokenPtr left, TExpTokenPtr right);
  void CheckHeight(const TExpToken& node);
  void RequireExtended();
  void ExpectClose(const std::string& message);

  // Binding (expression_parser_bind.cpp).
  void BindNode(TExpToken& node);
  void BindUnary(TExpToken& node);
  void BindBinary(TExpToken& node);
  void BindList(TExpToken& node);
  void BindFunction(TExpToken& node);
  void ConvertDateConstant(TExpToken& constant, std::uint8_t type);
  void ConvertDateOperands(TExpToken& a, TExpToken& b);

  // Failures: message + nothing; + " " + source; + token + "' in " + source.
  [[noreturn]] void Fail(const std::string& message) const;
  [[noreturn]] void FailIn(const std::string& message) const;
  [[noreturn]] void FailFound(const std::string& message) const;
  [[noreturn]] void FailQuoted(const std::string& message, const std::string& text) const;

  TErrorCode FErrorCode;
  std::string FTableName;
  std::string FSourceName;

  std::string FText;
  std::size_t FPos = 0;
  int FTokenKind = ExpScan::End;
  std::size_t FTokenStart = 0;
  std::size_t FTokenEnd = 0;
  std::size_t FPreviousEnd = 0;

  int FFlags = 0;
  int FNesting = 0;
  bool FStopAtIn = false;
  TExpSqlHooks* FHooks = nullptr;
  int FExpressionDepth = 0;  // ParseExpression calls in progress

  // Binding state.
  const TExpColumnResolver* FResolver = nullptr;
  std::uint32_t FNextSlot = 0;
  int FBindDepth = 0;
};

}  // namespace tarn
