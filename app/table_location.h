#pragma once
// Where the game plays from.
//
// The player's answers are written into the question table, so the game needs
// a table it may write. A table whose files are read-only (an installed one
// under /usr/share, say) is copied, on the first start, into the user's data
// directory ($XDG_DATA_HOME/vantor, or ~/.local/share/vantor), and the game
// plays from that copy from then on; an existing copy is used as it is, with
// the answers it holds. A file is read-only when its mode has no write bit,
// or when this user may not write it.

#include <string>
#include <string_view>

namespace vantor {

struct TTableLocation {
  std::string Directory;  // the directory to open the table in
  std::string Error;      // why there is none (empty on success)
};

// The directory to play the table tableName of directory from: directory
// itself when the table is writable or its files are not all there (the open
// then reports what is missing), otherwise the user's copy.
TTableLocation PlayableTableDirectory(const std::string& directory, std::string_view tableName);

// $XDG_DATA_HOME/vantor when XDG_DATA_HOME is an absolute path, else
// $HOME/.local/share/vantor; empty when neither can be had.
std::string UserDataDirectory();

}  // namespace vantor
