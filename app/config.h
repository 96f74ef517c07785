#pragma once
// The program's configuration file "Vantor.ini": one value is read, never
// written. Section and key names compare without regard to case, the first
// occurrence wins, blanks around the value and one pair of enclosing quotes
// are removed.
//
//   [Z]
//   Path=<directory of the question table>

#include <string>
#include <string_view>

namespace vantor {

inline constexpr std::string_view ConfigFileName = "Vantor.ini";
inline constexpr std::string_view DefaultTablePath = "C:\\T30G";

// The value of `key` in `section` of the INI file, or `defaultValue` when the
// file, the section or the key is missing. Never raises.
std::string ReadProfileString(const std::string& iniPath, std::string_view section, std::string_view key,
                              std::string_view defaultValue);

// Section "Z", key "Path", default "C:\T30G".
std::string ReadTablePath(const std::string& iniPath);

}  // namespace vantor
