#pragma once
// The component layer's own message texts. They are raised as
// tarn::EDatabaseError; "%s" and "%d" are filled with FormatMessage.

#include <initializer_list>
#include <string>
#include <string_view>

namespace dbcomp {

namespace Msg {
// Datasets and fields.
inline constexpr std::string_view NotEditing = "Table is not in edit or insert mode.";
inline constexpr std::string_view NotIndexField = "Field %s is not in the current index.";
inline constexpr std::string_view FieldReadOnly = "Field %s cannot be modified.";
inline constexpr std::string_view HandleError = "Error creating table handle.";
inline constexpr std::string_view FieldNotFound = "Field '%s' not found";
inline constexpr std::string_view DataSetClosed = "Cannot perform this operation on a closed dataset.";
inline constexpr std::string_view DataSetOpen = "Cannot perform this operation on an open dataset.";
inline constexpr std::string_view DataSetEmpty = "Cannot perform this operation on an empty dataset.";
inline constexpr std::string_view DataSetReadOnly = "Cannot modify a read-only dataset.";
inline constexpr std::string_view FieldTypeMismatch = "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr std::string_view FieldSizeMismatch = "Size mismatch for field '%s', expecting: %d actual: %d";
inline constexpr std::string_view DuplicateFieldName = "Duplicate field name '%s'";
inline constexpr std::string_view FieldAccessError = "Cannot access field '%s' as type %s";
inline constexpr std::string_view InvalidIntegerValue = "'%s' is not a valid integer value for field '%s'";
inline constexpr std::string_view InvalidFloatValue = "'%s' is not a valid floating point value for field '%s'";
inline constexpr std::string_view InvalidBoolValue = "'%s' is not a valid boolean value for field '%s'";
inline constexpr std::string_view FieldRangeError = "%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr std::string_view CircularDataLink = "Circular data links are not allowed.";
// Sessions.
inline constexpr std::string_view InvalidSessionName = "Session name %s is not valid.";
inline constexpr std::string_view SessionNameMissing = "Session name is missing.";
inline constexpr std::string_view DuplicateSessionName = "Session name %s already exists.";
inline constexpr std::string_view SessionActive = "Cannot perform this operation on an active session.";
inline constexpr std::string_view AutoSessionActive = "Cannot perform this operation on the active auto-session.";
inline constexpr std::string_view AutoSessionOnly = "The active auto-session can be the only active session.";
inline constexpr std::string_view AutoSessionExists = "This auto-session already exists.";
// Databases and tables.
inline constexpr std::string_view DatabaseNameMissing = "Database name is missing.";
inline constexpr std::string_view InvalidDatabaseName = "Database name %s is not valid.";
inline constexpr std::string_view DuplicateDatabaseName = "Database name %s already exists.";
inline constexpr std::string_view DatabaseOpen = "Cannot perform this operation on an open database.";
inline constexpr std::string_view DatabaseClosed = "Cannot perform this operation on a closed database.";
inline constexpr std::string_view InTransaction = "Database %s already has an active transaction.";
inline constexpr std::string_view NotInTransaction = "Database %s has no active transaction.";
inline constexpr std::string_view NoTableName = "Missing table name.";
inline constexpr std::string_view FieldIndexError = "Field index out of range.";
inline constexpr std::string_view IndexFieldMissing = "Cannot access index field %s.";
inline constexpr std::string_view NoFieldIndexes = "No index for fields '%s'";
inline constexpr std::string_view NoInMemoryFields =
    "You must define at least one field before you can open an in-memory table at design-time";
inline constexpr std::string_view RecordNotFound = "Record not found.";
inline constexpr std::string_view NotBrowsing = "Cannot perform this operation on a dataset that is not in browse mode.";
// Queries and their parameters.
inline constexpr std::string_view NoSQLStatement = "No SQL statement available";
inline constexpr std::string_view NoParameterValue = "No value for parameter '%s'";
inline constexpr std::string_view QueryOpen = "Cannot perform this operation on an open dataset";
inline constexpr std::string_view ParamNotFound = "Parameter '%s' not found";
inline constexpr std::string_view InvalidBcdValue = "'%s' is not a valid BCD value";
}  // namespace Msg

// Fills the placeholders of a message left to right: each "%s" or "%d" takes
// the next argument as given; "%%" is a percent sign. Missing arguments leave
// the placeholder empty.
std::string FormatMessage(std::string_view format, std::initializer_list<std::string_view> args);

// Raises tarn::EDatabaseError with the message, prefixed "%s: " with the
// component's name when it has one.
[[noreturn]] void DatabaseError(std::string_view message, std::string_view componentName = {});

}  // namespace dbcomp
