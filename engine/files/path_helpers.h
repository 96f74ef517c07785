#pragma once
// File names and paths as the engine writes them, and their translation to
// names the operating system understands.
//
// Inside the engine a path separates directories with "\" (directory paths
// end with one, "C:\T30G\" or "\var\quiz\"); "/" is accepted everywhere and
// counts as the same separator. Names are 8-bit strings; "blanks" are the
// characters up to and including ' ' (control characters and space).
//
// On the disk (Linux) both separators become "/". When the exact name does
// not exist, each missing component is looked up case-insensitively in its
// parent directory, so that table files copied from systems that ignore case
// ("VELMORN2.DAT" for "velmorn2.dat") open and are recognised as existing.

#include <string>
#include <string_view>

namespace tarn {

// name without surrounding blanks.
std::string TrimName(std::string_view name);

// True when a and b name the same file: equal after trimming, ignoring ASCII
// letter case, with "/" and "\" treated as equal.
bool SameFileName(std::string_view a, std::string_view b);

// ASCII case-insensitive equality without trimming.
bool EqualNoCase(std::string_view a, std::string_view b);

// The trimmed path with one "\" appended unless it is empty or already ends
// with "\" or "/".
std::string AddTrailingBackslash(std::string_view path);
// path without one trailing "\" (or "/"), when it has one.
std::string RemoveTrailingBackslash(std::string_view path);
// path without one leading "\" (or "/"), when it has one.
std::string RemoveLeadingBackslash(std::string_view path);
// path with every "/" replaced by "\".
std::string SlashesToBackslashes(std::string_view path);
// True when name is empty or contains ":" or "\" (or "/"): it is used as
// given instead of being put into a directory.
bool CarriesOwnPath(std::string_view name);

// The trimmed name with every "\" replaced by "/", for the operating system.
// No lookup is made.
std::string ToOsPath(std::string_view name);

// ToOsPath(name), then every component that does not exist under its exact
// name but has one or more case-insensitive matches in its parent
// directory is replaced by the match (the exact-case entry wins, then the
// smallest name in byte order). Components with no match are kept as given,
// so the result of a name that does not exist names where it would be
// created. Directory read failures are ignored (the component is kept).
std::string ResolveOsPath(std::string_view name);

}  // namespace tarn
