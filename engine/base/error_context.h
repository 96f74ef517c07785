#pragma once
// The engine's error context and its message table.
//
// When the engine raises an error it records a context: the code, the
// operating system's and the socket layer's last error numbers, and seven
// names (server, user, database, table, field, index, message). The message
// routine fills a code's message from it; the exception (engine_error.h)
// copies it when it is built.
//
// Threads: the context is kept per thread. An error raised on one thread never
// replaces the context another thread is about to read, so a raise and the
// exception built from it always agree. Within a thread, the context stays as
// it was left until the next raise or clear.

#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <string_view>

#include "engine/base/error_codes.h"

namespace tarn {

// Context item numbers for GetErrorContextItem.
enum class TErrorItem : int {
  Server = 0,
  User = 1,
  Database = 2,
  Table = 3,
  Field = 4,
  Index = 5,
  Message = 6,
  OSError = 7,
  SocketError = 8,
};

// Longest context string kept; longer ones are cut when stored.
inline constexpr std::size_t MaxErrorContextString = 255;
// Longest message text handed to a caller.
inline constexpr std::size_t MaxErrorMessage = 254;

// The names an error concerns. Leave out what does not apply, e.g.
//   RaiseEngineError(TARN_KEYVIOL, {.Database = dir, .Table = t, .Index = i});
struct TErrorNames {
  std::string_view Server{};
  std::string_view User{};
  std::string_view Database{};
  std::string_view Table{};
  std::string_view Field{};
  std::string_view Index{};
  std::string_view Message{};
};

// Sets code, OS error and socket error to 0 and every string to empty.
void ClearErrorContext();

// Stores every field at once; strings longer than 255 characters are cut.
void SetErrorContext(TErrorCode code, std::int32_t osError, std::int32_t socketError,
                     std::string_view server, std::string_view user, std::string_view database,
                     std::string_view table, std::string_view field, std::string_view index,
                     std::string_view message);

// Clears the context, reads the OS error (errno) and then the socket error,
// stores them with the code and the names, and throws ETarnEngineError.
[[noreturn]] void RaiseEngineError(TErrorCode code, std::string_view server, std::string_view user,
                                   std::string_view database, std::string_view table,
                                   std::string_view field, std::string_view index,
                                   std::string_view message);
[[noreturn]] void RaiseEngineError(TErrorCode code, const TErrorNames& names = {});

// Throws ETarnEngineError for the code with the context as it stands.
[[noreturn]] void RaiseErrorCode(TErrorCode code);

// The code stored by the last raise (or set) on this thread.
TErrorCode LastErrorCode();

// Items 0-6: the server, user, database, table, field, index and message
// strings; 7 and 8: the OS and socket error as decimal text; any other number
// gives the empty string.
std::string GetErrorContextItem(int item);

// The code of an ETarnEngineError; TARN_OSUNKNOWN (11047) for any other exception.
TErrorCode ErrorCodeOf(const std::exception& e);
TErrorCode ErrorCodeOf(const std::exception_ptr& e);

// The message for a code, its placeholders filled left to right from the
// context items its table row names. Unknown codes, 0 and 11284 give "An
// unknown error occurred". At most 254 characters.
std::string GetErrorMessage(TErrorCode code);
// The same into a caller's buffer: at most min(254, size - 1) characters and
// a terminating NUL. An empty buffer is left alone.
void GetErrorMessage(TErrorCode code, std::span<char> buffer);

// The constant name of a code ("TARN_BOF"); empty for a code not in the table.
std::string_view GetErrorName(TErrorCode code);

}  // namespace tarn
