#include "tools/tarn/statement_splitter.h"

namespace tarn_tool {

namespace {

bool Blank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

}  // namespace

std::vector<TSplitStatement> TStatementSplitter::Feed(const std::string& line, int lineNo) {
  std::vector<TSplitStatement> done;
  if (Blank(FText)) FStartLine = lineNo;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    const char next = i + 1 < line.size() ? line[i + 1] : '\0';
    switch (FState) {
      case TState::Plain:
        if (c == ';') {
          if (!Blank(FText)) done.push_back({FText, FStartLine});
          FText.clear();
          FStartLine = lineNo;
          continue;
        }
        if (c == '\'') FState = TState::Text;
        else if (c == '"') FState = TState::Name;
        else if (c == '[') FState = TState::Bracket;
        else if (c == '/' && next == '*') {
          FState = TState::Comment;
          FText += c;
          FText += next;
          ++i;
          continue;
        }
        break;
      case TState::Text:
        if (c == '\'') FState = TState::Plain;  // a doubled quote reopens at once
        break;
      case TState::Name:
        if (c == '"') FState = TState::Plain;
        break;
      case TState::Bracket:
        if (c == ']') FState = TState::Plain;
        break;
      case TState::Comment:
        if (c == '*' && next == '/') {
          FState = TState::Plain;
          FText += c;
          FText += next;
          ++i;
          continue;
        }
        break;
    }
    if (Blank(FText) && !Blank(std::string(1, c))) {
      FText.clear();
      FStartLine = lineNo;
    }
    FText += c;
  }
  FText += '\n';
  return done;
}

bool TStatementSplitter::Pending() const { return !Blank(FText) || FState != TState::Plain; }

std::optional<TSplitStatement> TStatementSplitter::Flush() {
  std::optional<TSplitStatement> rest;
  if (!Blank(FText)) rest = TSplitStatement{FText, FStartLine};
  FText.clear();
  FState = TState::Plain;
  return rest;
}

}  // namespace tarn_tool
