#include "engine/base/error_context.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <string>

#include "engine/base/engine_error.h"

namespace tarn {
namespace {

struct TErrorContext {
  TErrorCode Code = 0;
  std::int32_t OSError = 0;
  std::int32_t SocketError = 0;
  std::array<std::string, 7> Strings;  // indexed by TErrorItem Server..Message
};

thread_local TErrorContext Context;

// The socket layer's last error. There is no network client, so it is 0.
std::int32_t LastSocketError() { return 0; }

struct TErrorEntry {
  TErrorCode Code;
  std::string_view Name;
  std::string_view Message;
  std::array<TErrorItem, 3> Items;  // fill the %s placeholders, in order
  std::size_t ItemCount;
};

// Ordered by code, so that lookups can bisect.
constexpr TErrorEntry ErrorTable[] = {
    {TARN_NONE, "TARN_NONE", "An unknown error occurred", {}, 0},
    {TARN_BOF, "TARN_BOF", "Beginning of table '%s' unexpectedly encountered", {{TErrorItem::Table}}, 1},
    {TARN_EOF, "TARN_EOF", "End of table '%s' unexpectedly encountered", {{TErrorItem::Table}}, 1},
    {TARN_KEYORRECDELETED, "TARN_KEYORRECDELETED", "Record has been changed or deleted by another user, session, or table cursor in the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_NOCURRREC, "TARN_NOCURRREC", "No current record in the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_RECNOTFOUND, "TARN_RECNOTFOUND", "Record not found in the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_ENDOFBLOB, "TARN_ENDOFBLOB", "End of blob data in the table '%s' reached prematurely", {{TErrorItem::Table}}, 1},
    {TARN_HEADERCORRUPT, "TARN_HEADERCORRUPT", "Header information corrupt in the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_FILECORRUPT, "TARN_FILECORRUPT", "Data record buffers corrupt in the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_MEMOCORRUPT, "TARN_MEMOCORRUPT", "BLOB block buffers corrupt in the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_INDEXCORRUPT, "TARN_INDEXCORRUPT", "Index page buffers corrupt in the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_READERR, "TARN_READERR", "Error reading from the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_WRITEERR, "TARN_WRITEERR", "Error writing to the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_FILEDELETEFAIL, "TARN_FILEDELETEFAIL", "Cannot delete the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_FILENOACCESS, "TARN_FILENOACCESS", "Error accessing header information for the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_RECTOOBIG, "TARN_RECTOOBIG", "Maximum record size exceeded in the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_TABLEFULL, "TARN_TABLEFULL", "The table '%s' is full and cannot contain any more data", {{TErrorItem::Table}}, 1},
    {TARN_INTERNALLIMIT, "TARN_INTERNALLIMIT", "Too many filters defined for the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_INDEXLIMIT, "TARN_INDEXLIMIT", "Maximum or minimum limits on number of indexes or fields in an index exceeded in the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_FLDLIMIT, "TARN_FLDLIMIT", "Maximum or minimum limits on number of fields, auto-increment field value, or field size exceeded in the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_OPENBLOBLIMIT, "TARN_OPENBLOBLIMIT", "Too many blobs opened in the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_BLOBLIMIT, "TARN_BLOBLIMIT", "Too many blob fields or invalid blob block size specified for the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_KEYVIOL, "TARN_KEYVIOL", "Duplicate key found in the index '%s' of the table '%s'", {{TErrorItem::Index, TErrorItem::Table}}, 2},
    {TARN_MINVALERR, "TARN_MINVALERR", "The value for the field '%s' in the table '%s' is below the minimum allowable value", {{TErrorItem::Field, TErrorItem::Table}}, 2},
    {TARN_MAXVALERR, "TARN_MAXVALERR", "The value for the field '%s' in the table '%s' is above the maximum allowable value", {{TErrorItem::Field, TErrorItem::Table}}, 2},
    {TARN_REQDERR, "TARN_REQDERR", "A value must be provided for the field '%s' in the table '%s'", {{TErrorItem::Field, TErrorItem::Table}}, 2},
    {TARN_OUTOFRANGE, "TARN_OUTOFRANGE", "Invalid field number or name '%s' specified for the table '%s'", {{TErrorItem::Field, TErrorItem::Table}}, 2},
    {TARN_PRIMARYKEYREDEFINE, "TARN_PRIMARYKEYREDEFINE", "A primary index is already defined for the table '%s' and cannot be added again", {{TErrorItem::Table}}, 1},
    {TARN_INVALIDBLOBOFFSET, "TARN_INVALIDBLOBOFFSET", "Invalid blob offset into the table '%s' specified", {{TErrorItem::Table}}, 1},
    {TARN_INVALIDFLDTYPE, "TARN_INVALIDFLDTYPE", "Invalid field definition specified for the field '%s' in the table '%s'", {{TErrorItem::Field, TErrorItem::Table}}, 2},
    {TARN_INVALIDVCHKSTRUCT, "TARN_INVALIDVCHKSTRUCT", "Invalid default, min or max validity check, or expression specified for the field '%s' in the table '%s'", {{TErrorItem::Field, TErrorItem::Table}}, 2},
    {TARN_INDEXNAMEREQUIRED, "TARN_INDEXNAMEREQUIRED", "The secondary index name is missing or not specified for the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_INVALIDPASSWORD, "TARN_INVALIDPASSWORD", "Password provided for the table '%s' is invalid", {{TErrorItem::Table}}, 1},
    {TARN_INVALIDINDEXNAME, "TARN_INVALIDINDEXNAME", "Invalid secondary index name '%s' specified for the table '%s'", {{TErrorItem::Index, TErrorItem::Table}}, 2},
    {TARN_INVALIDIDXDESC, "TARN_INVALIDIDXDESC", "Invalid field number '%s' specified in the index '%s' for the table '%s'", {{TErrorItem::Field, TErrorItem::Index, TErrorItem::Table}}, 3},
    {TARN_INVALIDKEY, "TARN_INVALIDKEY", "Invalid key size specified in the index '%s' for the table '%s'", {{TErrorItem::Index, TErrorItem::Table}}, 2},
    {TARN_INDEXEXISTS, "TARN_INDEXEXISTS", "The secondary index '%s' already exists for the table '%s'", {{TErrorItem::Index, TErrorItem::Table}}, 2},
    {TARN_INVALIDBLOBLEN, "TARN_INVALIDBLOBLEN", "Invalid blob length in the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_INVALIDBLOBHANDLE, "TARN_INVALIDBLOBHANDLE", "Invalid blob handle for the table '%s' specified", {{TErrorItem::Table}}, 1},
    {TARN_TABLEOPEN, "TARN_TABLEOPEN", "The table '%s' is already in use", {{TErrorItem::Table}}, 1},
    {TARN_INVALIDFIELDNAME, "TARN_INVALIDFIELDNAME", "Invalid or duplicate field name '%s' specified for the table '%s'", {{TErrorItem::Field, TErrorItem::Table}}, 2},
    {TARN_NOSUCHFILTER, "TARN_NOSUCHFILTER", "Invalid filter handle specified for the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_INVALIDFILTER, "TARN_INVALIDFILTER", "Filter error for the table '%s' - %s", {{TErrorItem::Table, TErrorItem::Message}}, 2},
    {TARN_INVALIDINDEXDELETE, "TARN_INVALIDINDEXDELETE", "The primary index cannot be removed from the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_LOCKED, "TARN_LOCKED", "The table '%s' is already locked by another user", {{TErrorItem::Table}}, 1},
    {TARN_UNLOCKFAILED, "TARN_UNLOCKFAILED", "Cannot unlock table or record in the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_LOCKTIMEOUT, "TARN_LOCKTIMEOUT", "General lock failure with the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_NEEDEXCLACCESS, "TARN_NEEDEXCLACCESS", "The table '%s' must be opened exclusively", {{TErrorItem::Table}}, 1},
    {TARN_RECLOCKFAILED, "TARN_RECLOCKFAILED", "Record in the table '%s' is in use by another user", {{TErrorItem::Table}}, 1},
    {TARN_NOTSUFFTABLERIGHTS, "TARN_NOTSUFFTABLERIGHTS", "Insufficient rights to the table '%s', a password is required", {{TErrorItem::Table}}, 1},
    {TARN_NOTABLOB, "TARN_NOTABLOB", "Invalid blob field '%s' specified for the table '%s'", {{TErrorItem::Field, TErrorItem::Table}}, 2},
    {TARN_NOTINITIALIZED, "TARN_NOTINITIALIZED", "The database engine is not initialized", {}, 0},
    {TARN_OSENOENT, "TARN_OSENOENT", "Table '%s' does not exist", {{TErrorItem::Table}}, 1},
    {TARN_OSEMFILE, "TARN_OSEMFILE", "Too many operating system files open while attempting to open the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_OSEACCES, "TARN_OSEACCES", "Access denied to table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_OSEBADF, "TARN_OSEBADF", "Invalid operating system file handle for the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_OSENOMEM, "TARN_OSENOMEM", "There is insufficient operating system memory available for the current operation", {}, 0},
    {TARN_OSEINVMEM, "TARN_OSEINVMEM", "Invalid length for the in-memory table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_OSENODEV, "TARN_OSENODEV", "Access denied to logical operating system device for the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_OSENOTSAM, "TARN_OSENOTSAM", "The table '%s' has been moved", {{TErrorItem::Table}}, 1},
    {TARN_OSUNKNOWN, "TARN_OSUNKNOWN", "An unknown operating system error occurred with the table '%s'", {{TErrorItem::Table}}, 1},
    {TARN_REMOTECOMMLOST, "TARN_REMOTECOMMLOST", "The connection to the database server at '%s' has been lost", {{TErrorItem::Server}}, 1},
    {TARN_REMOTEUNKNOWN, "TARN_REMOTEUNKNOWN", "An unknown error ('%s') occurred with the connection to the database server at '%s', please check the server log", {{TErrorItem::Message, TErrorItem::Server}}, 2},
    {TARN_REMOTECONNECT, "TARN_REMOTECONNECT", "A connection to the database server at '%s' cannot be established", {{TErrorItem::Server}}, 1},
    {TARN_REMOTENOLOGIN, "TARN_REMOTENOLOGIN", "A connection to the database server at '%s' cannot be established, the server is not accepting new logins", {{TErrorItem::Server}}, 1},
    {TARN_REMOTEMAXCONNECT, "TARN_REMOTEMAXCONNECT", "A connection to the database server at '%s' cannot be established, the maximum number of connections has been reached", {{TErrorItem::Server}}, 1},
    {TARN_REMOTEADDRESSBLOCK, "TARN_REMOTEADDRESSBLOCK", "A connection to the database server at '%s' cannot be established, the client address is blocked", {{TErrorItem::Server}}, 1},
    {TARN_REMOTECALLBACK, "TARN_REMOTECALLBACK", "An unknown error occurred", {}, 0},
    {TARN_REMOTECALLBACKERR, "TARN_REMOTECALLBACKERR", "A server callback error occurred for the database server at '%s'", {{TErrorItem::Server}}, 1},
    {TARN_REMOTEVERSION, "TARN_REMOTEVERSION", "A call to the database server at '%s' failed, the client engine version does not match the server", {{TErrorItem::Server}}, 1},
    {TARN_REMOTEINVLOGIN, "TARN_REMOTEINVLOGIN", "A connection to the database server at '%s' cannot be established, the login information provided is invalid", {{TErrorItem::Server}}, 1},
    {TARN_REMOTENOTAUTH, "TARN_REMOTENOTAUTH", "The user '%s' is not authorized to perform this operation with the database '%s' on the database server at '%s'", {{TErrorItem::User, TErrorItem::Database, TErrorItem::Server}}, 3},
    {TARN_REMOTENOTADMIN, "TARN_REMOTENOTADMIN", "The user '%s' is not authorized to perform administration functions on the database server at '%s'", {{TErrorItem::User, TErrorItem::Server}}, 2},
    {TARN_REMOTEINVUSER, "TARN_REMOTEINVUSER", "The user name is either invalid or blank", {}, 0},
    {TARN_REMOTENOUSER, "TARN_REMOTENOUSER", "The user '%s' does not exist on the database server at '%s'", {{TErrorItem::User, TErrorItem::Server}}, 2},
    {TARN_REMOTEDUPUSER, "TARN_REMOTEDUPUSER", "The user '%s' already exists on the database server at '%s'", {{TErrorItem::User, TErrorItem::Server}}, 2},
    {TARN_REMOTEINVDB, "TARN_REMOTEINVDB", "The database name or directory is either invalid or blank", {}, 0},
    {TARN_REMOTENODB, "TARN_REMOTENODB", "The database '%s' does not exist on the database server at '%s'", {{TErrorItem::Database, TErrorItem::Server}}, 2},
    {TARN_REMOTEDUPDB, "TARN_REMOTEDUPDB", "The database '%s' already exists on the database server at '%s'", {{TErrorItem::Database, TErrorItem::Server}}, 2},
    {TARN_REMOTEINVDBUSER, "TARN_REMOTEINVDBUSER", "The database user name is either invalid or blank", {}, 0},
    {TARN_REMOTENODBUSER, "TARN_REMOTENODBUSER", "The database user '%s' does not exist for the database '%s' on the database server at '%s'", {{TErrorItem::User, TErrorItem::Database, TErrorItem::Server}}, 3},
    {TARN_REMOTEDUPDBUSER, "TARN_REMOTEDUPDBUSER", "The database user '%s' already exists for the database '%s' on the database server at '%s'", {{TErrorItem::User, TErrorItem::Database, TErrorItem::Server}}, 3},
    {TARN_REMOTEINVREQUEST, "TARN_REMOTEINVREQUEST", "An invalid or unknown request was made to the database server at '%s'", {{TErrorItem::Server}}, 1},
    {TARN_IMPORTERROR, "TARN_IMPORTERROR", "An error occurred during the import into the table '%s' - %s", {{TErrorItem::Table, TErrorItem::Message}}, 2},
    {TARN_EXPORTERROR, "TARN_EXPORTERROR", "An error occurred during the export from the table '%s' - %s", {{TErrorItem::Table, TErrorItem::Message}}, 2},
    {TARN_SQLPARSE, "TARN_SQLPARSE", "SQL error - %s", {{TErrorItem::Message}}, 1},
    {TARN_OLDVERSION, "TARN_OLDVERSION", "The table '%s' is not the correct version", {{TErrorItem::Table}}, 1},
    {TARN_SEARCHCOLREQD, "TARN_SEARCHCOLREQD", "Invalid field '%s' specified for the index '%s' in the table '%s'", {{TErrorItem::Field, TErrorItem::Index, TErrorItem::Table}}, 3},
    {TARN_TABLEEXISTS, "TARN_TABLEEXISTS", "The table '%s' already exists", {{TErrorItem::Table}}, 1},
    {TARN_COMPRESS, "TARN_COMPRESS", "Error compressing data", {}, 0},
    {TARN_UNCOMPRESS, "TARN_UNCOMPRESS", "Error uncompressing data", {}, 0},
    {TARN_CANNOTLOADLDDRV, "TARN_CANNOTLOADLDDRV", "The language driver for the table '%s' is not available or installed", {{TErrorItem::Table}}, 1},
};

constexpr std::string_view UnknownErrorText = "An unknown error occurred";

const TErrorEntry* FindEntry(TErrorCode code) {
  auto it = std::lower_bound(std::begin(ErrorTable), std::end(ErrorTable), code,
                             [](const TErrorEntry& e, TErrorCode c) { return e.Code < c; });
  if (it == std::end(ErrorTable) || it->Code != code) return nullptr;
  return it;
}

std::string Cut(std::string_view s, std::size_t limit) {
  return std::string(s.substr(0, std::min(s.size(), limit)));
}

}  // namespace

TErrorClass ClassifyError(TErrorCode code) {
  switch (code) {
    case TARN_NONE:
      return TErrorClass::None;
    case TARN_BOF:
    case TARN_EOF:
    case TARN_NOCURRREC:
    case TARN_RECNOTFOUND:
      return TErrorClass::Position;
    case TARN_HEADERCORRUPT:
    case TARN_FILECORRUPT:
    case TARN_MEMOCORRUPT:
    case TARN_INDEXCORRUPT:
      return TErrorClass::Corruption;
    case TARN_LOCKED:
    case TARN_UNLOCKFAILED:
    case TARN_LOCKTIMEOUT:
    case TARN_RECLOCKFAILED:
      return TErrorClass::Lock;
    default:
      return TErrorClass::Other;
  }
}

void ClearErrorContext() { Context = TErrorContext{}; }

void SetErrorContext(TErrorCode code, std::int32_t osError, std::int32_t socketError,
                     std::string_view server, std::string_view user, std::string_view database,
                     std::string_view table, std::string_view field, std::string_view index,
                     std::string_view message) {
  Context.Code = code;
  Context.OSError = osError;
  Context.SocketError = socketError;
  const std::string_view values[7] = {server, user, database, table, field, index, message};
  for (std::size_t i = 0; i < 7; ++i) Context.Strings[i] = Cut(values[i], MaxErrorContextString);
}

void RaiseEngineError(TErrorCode code, std::string_view server, std::string_view user,
                      std::string_view database, std::string_view table, std::string_view field,
                      std::string_view index, std::string_view message) {
  const std::int32_t osError = errno;  // read before anything below can change it
  ClearErrorContext();
  const std::int32_t socketError = LastSocketError();
  SetErrorContext(code, osError, socketError, server, user, database, table, field, index, message);
  throw ETarnEngineError(code);
}

void RaiseEngineError(TErrorCode code, const TErrorNames& names) {
  RaiseEngineError(code, names.Server, names.User, names.Database, names.Table, names.Field,
                   names.Index, names.Message);
}

void RaiseErrorCode(TErrorCode code) { throw ETarnEngineError(code); }

TErrorCode LastErrorCode() { return Context.Code; }

std::string GetErrorContextItem(int item) {
  if (item >= 0 && item <= static_cast<int>(TErrorItem::Message)) return Context.Strings[item];
  if (item == static_cast<int>(TErrorItem::OSError)) return std::to_string(Context.OSError);
  if (item == static_cast<int>(TErrorItem::SocketError)) return std::to_string(Context.SocketError);
  return {};
}

TErrorCode ErrorCodeOf(const std::exception& e) {
  if (auto* engine = dynamic_cast<const ETarnEngineError*>(&e)) return engine->ErrorCode();
  return TARN_OSUNKNOWN;
}

TErrorCode ErrorCodeOf(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ErrorCodeOf(ex);
  } catch (...) {
    return TARN_OSUNKNOWN;
  }
}

std::string GetErrorMessage(TErrorCode code) {
  const TErrorEntry* entry = FindEntry(code);
  // 0 and 11284 have names but no message of their own.
  if (entry == nullptr || code == TARN_NONE || code == TARN_REMOTECALLBACK)
    return std::string(UnknownErrorText);

  // Fill each %s in turn; placeholders beyond the row's items stay empty and
  // items beyond the placeholders are not shown. The text is built to at most
  // 255 characters and handed out with at most 254.
  std::string text;
  std::size_t item = 0;
  const std::string_view msg = entry->Message;
  for (std::size_t i = 0; i < msg.size() && text.size() < MaxErrorContextString; ++i) {
    if (msg[i] == '%' && i + 1 < msg.size() && msg[i + 1] == 's') {
      if (item < entry->ItemCount) text += GetErrorContextItem(static_cast<int>(entry->Items[item++]));
      ++i;
    } else {
      text += msg[i];
    }
  }
  if (text.size() > MaxErrorMessage) text.resize(MaxErrorMessage);
  return text;
}

void GetErrorMessage(TErrorCode code, std::span<char> buffer) {
  if (buffer.empty()) return;
  const std::string text = GetErrorMessage(code);
  const std::size_t n = std::min(text.size(), buffer.size() - 1);
  std::copy_n(text.data(), n, buffer.data());
  buffer[n] = '\0';
}

std::string_view GetErrorName(TErrorCode code) {
  const TErrorEntry* entry = FindEntry(code);
  return entry ? entry->Name : std::string_view{};
}

}  // namespace tarn
