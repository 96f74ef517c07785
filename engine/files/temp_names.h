#pragma once
// Unique names for temporary tables and work files.
//
// A name is the first five characters of the decimal absolute value of the
// calling thread's id (gettid), a counter starting at 0, and an extension:
// thread 1234567 gets "123450.DAT", "123451.DAT", ... The counter rises until
// the name is free.

#include <functional>
#include <string>
#include <string_view>

namespace tarn {

// The first five characters of the decimal absolute value of the thread id.
std::string TempNameStem();

// The first of stem + counter + ext (counter 0, 1, ...) for which taken()
// returns false. taken receives the bare name, without a directory.
std::string UniqueTempName(std::string_view ext,
                           const std::function<bool(const std::string& name)>& taken);

// A free work file in directory dir (which ends with its separator, or is
// empty): dir + UniqueTempName(ext, ...) where a name is taken when
// FileList().FileExists(dir + name, inMemory) says so. Returns the full name.
std::string UniqueTempFileName(std::string_view dir, std::string_view ext, bool inMemory);

}  // namespace tarn
