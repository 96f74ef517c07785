#pragma once
// Cuts the text the shell reads into statements: a statement ends at a ";"
// that is not inside a '...' string, a "..." or [...] name, or a /* */
// comment. Text is fed line by line; each complete statement comes out with
// the line it started on.

#include <optional>
#include <string>
#include <vector>

namespace tarn_tool {

struct TSplitStatement {
  std::string Text;  // without the ";"
  int Line = 0;
};

class TStatementSplitter {
 public:
  // Adds one line (without its line break) and returns the statements it
  // completed.
  std::vector<TSplitStatement> Feed(const std::string& line, int lineNo);
  // True while a statement has begun but not ended.
  bool Pending() const;
  // The unfinished text, and forgets it.
  std::optional<TSplitStatement> Flush();

 private:
  enum class TState { Plain, Text, Name, Bracket, Comment };
  TState FState = TState::Plain;
  std::string FText;
  int FStartLine = 0;
};

}  // namespace tarn_tool
