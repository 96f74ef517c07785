// TExpressionParser: set-up, the scanner and the failure messages.

#include <cstring>

#include "engine/base/error_context.h"
#include "engine/base/names.h"
#include "expr/expression_parser.h"

namespace tarn {

namespace {

bool IsIdentStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

bool IsIdentChar(unsigned char c) {
  return IsIdentStart(c) || (c >= '0' && c <= '9') || c == 33 || c == 36 || c == 64;
}

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

}  // namespace

TExpressionParser::TExpressionParser(TErrorCode errorCode, std::string tableName, std::string sourceName)
    : FErrorCode(errorCode), FTableName(std::move(tableName)), FSourceName(std::move(sourceName)) {}

void TExpressionParser::SetText(std::string_view text) {
  const std::size_t zero = text.find('\0');
  FText.assign(text.substr(0, zero));
  FPos = 0;
  FTokenKind = ExpScan::End;
  FTokenStart = 0;
  FTokenEnd = 0;
  FPreviousEnd = 0;
}

void TExpressionParser::SkipBlanks() {
  for (;;) {
    while (FPos < FText.size() && static_cast<unsigned char>(FText[FPos]) >= 1 &&
           static_cast<unsigned char>(FText[FPos]) <= 32)
      ++FPos;
    if (FPos + 1 < FText.size() && FText[FPos] == '/' && FText[FPos + 1] == '*') {
      const std::size_t end = FText.find("*/", FPos + 2);
      if (end == std::string::npos) FailIn("Missing ending comment slash and asterisk in");
      FPos = end + 2;
      continue;
    }
    return;
  }
}

int TExpressionParser::NextToken() {
  FPreviousEnd = FTokenEnd;
  SkipBlanks();
  FTokenStart = FPos;
  const std::size_t n = FText.size();
  if (FPos >= n) {
    FTokenKind = ExpScan::End;
    FTokenEnd = FPos;
    return FTokenKind;
  }
  const auto at = [&](std::size_t i) -> unsigned char { return i < n ? static_cast<unsigned char>(FText[i]) : 0; };
  const unsigned char c = at(FPos);
  if (IsIdentStart(c)) {
    std::size_t i = FPos + 1;
    while (i < n && IsIdentChar(at(i))) ++i;
    FTokenKind = ExpScan::Identifier;
    FPos = i;
  } else if (c == '[') {
    const std::size_t close = FText.find(']', FPos + 1);
    if (close == std::string::npos) {
      FTokenEnd = n;
      FailQuoted("Missing right bracket after '", FText.substr(FPos + 1));
    }
    FTokenKind = ExpScan::QuotedName;
    FPos = close + 1;
  } else if (c == '\'' || c == '"') {
    std::size_t i = FPos + 1;
    for (;;) {
      if (i >= n) {
        FTokenEnd = n;
        FailQuoted(c == '\'' ? "Missing single quote after '" : "Missing double quote after '",
                   FText.substr(FPos + 1));
      }
      if (at(i) == c) {
        if (at(i + 1) == c) {
          i += 2;
          continue;
        }
        break;
      }
      ++i;
    }
    FTokenKind = ExpScan::String;
    FPos = i + 1;
  } else if (c == '#' && IsDigit(at(FPos + 1))) {
    std::size_t i = FPos + 1;
    while (IsDigit(at(i))) ++i;
    FTokenKind = ExpScan::CharConstant;
    FPos = i;
  } else if (IsDigit(c) || (c == '.' && IsDigit(at(FPos + 1)))) {
    std::size_t i = FPos;
    while (IsDigit(at(i))) ++i;
    FTokenKind = ExpScan::Integer;
    for (;;) {
      const unsigned char d = at(i);
      if (IsDigit(d) || d == '.') {
        ++i;
      } else if (d == 'E' || d == 'e') {
        ++i;
        if (at(i) == '+' || at(i) == '-') ++i;
      } else {
        break;
      }
      FTokenKind = ExpScan::Number;
    }
    FPos = i;
  } else {
    FTokenKind = c;
    FPos += 1;
  }
  FTokenEnd = FPos;
  return FTokenKind;
}

std::string TExpressionParser::TokenText() const {
  const std::string_view raw = std::string_view(FText).substr(FTokenStart, FTokenEnd - FTokenStart);
  if (FTokenKind == ExpScan::QuotedName && raw.size() >= 2) return std::string(raw.substr(1, raw.size() - 2));
  if (FTokenKind == ExpScan::String && raw.size() >= 2) {
    const char quote = raw.front();
    std::string text;
    text.reserve(raw.size() - 2);
    for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
      text.push_back(raw[i]);
      if (raw[i] == quote) ++i;  // a doubled quote stands for one
    }
    return text;
  }
  return std::string(raw);
}

bool TExpressionParser::IsKeyword(const char* word) const {
  if (FTokenKind != ExpScan::Identifier) return false;
  return SameText(std::string_view(FText).substr(FTokenStart, FTokenEnd - FTokenStart), word);
}

void TExpressionParser::Fail(const std::string& message) const {
  RaiseEngineError(FErrorCode, {.Table = FTableName, .Message = message});
}

void TExpressionParser::FailIn(const std::string& message) const { Fail(message + " " + FSourceName); }

void TExpressionParser::FailFound(const std::string& message) const { FailQuoted(message, TokenText()); }

void TExpressionParser::FailQuoted(const std::string& message, const std::string& text) const {
  Fail(message + text + "' in " + FSourceName);
}

}  // namespace tarn
