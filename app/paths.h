#pragma once
// The path unit: the program's own directory, fixed once at start-up, and
// small routines on paths and texts.
//
// Separators: the program builds its own paths with "/", and a directory made
// of "/" alone is the root and keeps its slash. Paths written with "\" (as
// in an INI file meant for another platform) keep their behaviour: a
// trailing "\" is removed only from paths longer than 3 characters, so a
// drive root such as "C:\" keeps it.
//
// Used on the user-interface thread only; InitPaths runs before any window.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace vantor {

// Full path of the running program file, its directory (StripTrailingBackslash
// of the directory part) and the first character of that directory. Empty
// until InitPaths. The directory is where the program's files are: for an
// installed program without "Vantor.ini" beside it, the installed data
// directory (share/vantor beside bin/) when that holds "Vantor.ini".
const std::string& ExeFileName();
const std::string& ExeDir();
char ExeDrive();

// Start-up of the unit: takes `exeFileName` (the running program's full path
// when empty, from /proc/self/exe), derives ExeDir (see above) and ExeDrive, makes ExeDir
// the process's current directory and seeds the pseudo-random generator from
// the clock. Raises std::system_error when the directory cannot be entered.
void InitPaths(std::string_view exeFileName = {});

// The path without its last character when that is a separator and the path
// is not a root: "\" is removed from paths longer than 3 characters, "/" from
// paths other than "/" and a drive root "X:/". Requires: path not empty.
std::string StripTrailingBackslash(std::string_view path);
// Every "&" doubled, so that the text shows literally in a caption.
std::string EscapeAmpersands(std::string_view text);
// 1-based start of the last occurrence of `sub` in `text`; 0 when there is
// none or `sub` is empty.
std::size_t LastPos(std::string_view sub, std::string_view text);
// The last character of `text` is `c`; also true for an empty text.
bool EndsWithChar(char c, std::string_view text);
// The directory part of a file name, with its trailing separator ("" when
// none); and the name part.
std::string ExtractFilePath(std::string_view fileName);
std::string ExtractFileName(std::string_view fileName);
// The file name unchanged when it has a directory part; else the directory
// and the name joined by one separator, none when the directory already ends
// with one (or is empty). The separator is "\" for a directory written only
// with "\", "/" otherwise.
std::string CombinePath(std::string_view fileName, std::string_view directory);
// CombinePath of the name part of `fileName` (any directory dropped) and ExeDir.
std::string ExePath(std::string_view fileName);
// The largest value. Requires: a non-empty list.
int MaxIntValue(std::initializer_list<int> values);

}  // namespace vantor
