#pragma once
// Engine error codes. Every failure inside the engine is named by a 16-bit
// code; 0 means no error. The high byte groups related codes (0x22
// positioning, 0x23 damaged files, 0x24 file I/O, 0x25 limits, 0x26 integrity,
// 0x27 invalid definitions and requests, 0x28 locks, 0x29 rights, 0x2A blobs
// and engine state, 0x2B operating system, 0x2C database server, 0x2E SQL,
// 0x2F table version, 0x30 index definitions, 0x33 table creation, 0x3A
// compression, 0x3E language drivers); the grouping has no behaviour.

#include <cstdint>

namespace tarn {

using TErrorCode = std::uint16_t;

inline constexpr TErrorCode TARN_NONE = 0;
inline constexpr TErrorCode TARN_BOF = 8705;
inline constexpr TErrorCode TARN_EOF = 8706;
inline constexpr TErrorCode TARN_KEYORRECDELETED = 8708;
inline constexpr TErrorCode TARN_NOCURRREC = 8709;
inline constexpr TErrorCode TARN_RECNOTFOUND = 8710;
inline constexpr TErrorCode TARN_ENDOFBLOB = 8711;
inline constexpr TErrorCode TARN_HEADERCORRUPT = 8961;
inline constexpr TErrorCode TARN_FILECORRUPT = 8962;
inline constexpr TErrorCode TARN_MEMOCORRUPT = 8963;
inline constexpr TErrorCode TARN_INDEXCORRUPT = 8965;
inline constexpr TErrorCode TARN_READERR = 9217;
inline constexpr TErrorCode TARN_WRITEERR = 9218;
inline constexpr TErrorCode TARN_FILEDELETEFAIL = 9220;
inline constexpr TErrorCode TARN_FILENOACCESS = 9221;
inline constexpr TErrorCode TARN_RECTOOBIG = 9477;
inline constexpr TErrorCode TARN_TABLEFULL = 9479;
inline constexpr TErrorCode TARN_INTERNALLIMIT = 9482;
inline constexpr TErrorCode TARN_INDEXLIMIT = 9487;
inline constexpr TErrorCode TARN_FLDLIMIT = 9492;
inline constexpr TErrorCode TARN_OPENBLOBLIMIT = 9494;
inline constexpr TErrorCode TARN_BLOBLIMIT = 9498;
inline constexpr TErrorCode TARN_KEYVIOL = 9729;
inline constexpr TErrorCode TARN_MINVALERR = 9730;
inline constexpr TErrorCode TARN_MAXVALERR = 9731;
inline constexpr TErrorCode TARN_REQDERR = 9732;
inline constexpr TErrorCode TARN_OUTOFRANGE = 9985;
inline constexpr TErrorCode TARN_PRIMARYKEYREDEFINE = 9993;
inline constexpr TErrorCode TARN_INVALIDBLOBOFFSET = 9998;
inline constexpr TErrorCode TARN_INVALIDFLDTYPE = 10000;
inline constexpr TErrorCode TARN_INVALIDVCHKSTRUCT = 10006;
inline constexpr TErrorCode TARN_INDEXNAMEREQUIRED = 10010;
inline constexpr TErrorCode TARN_INVALIDPASSWORD = 10015;
inline constexpr TErrorCode TARN_INVALIDINDEXNAME = 10022;
inline constexpr TErrorCode TARN_INVALIDIDXDESC = 10023;
inline constexpr TErrorCode TARN_INVALIDKEY = 10026;
inline constexpr TErrorCode TARN_INDEXEXISTS = 10027;
inline constexpr TErrorCode TARN_INVALIDBLOBLEN = 10029;
inline constexpr TErrorCode TARN_INVALIDBLOBHANDLE = 10030;
inline constexpr TErrorCode TARN_TABLEOPEN = 10031;
inline constexpr TErrorCode TARN_INVALIDFIELDNAME = 10038;
inline constexpr TErrorCode TARN_NOSUCHFILTER = 10050;
inline constexpr TErrorCode TARN_INVALIDFILTER = 10051;
inline constexpr TErrorCode TARN_INVALIDINDEXDELETE = 10055;
inline constexpr TErrorCode TARN_LOCKED = 10241;
inline constexpr TErrorCode TARN_UNLOCKFAILED = 10242;
inline constexpr TErrorCode TARN_LOCKTIMEOUT = 10249;
inline constexpr TErrorCode TARN_NEEDEXCLACCESS = 10253;
inline constexpr TErrorCode TARN_RECLOCKFAILED = 10258;
inline constexpr TErrorCode TARN_NOTSUFFTABLERIGHTS = 10498;
inline constexpr TErrorCode TARN_NOTABLOB = 10753;
inline constexpr TErrorCode TARN_NOTINITIALIZED = 10758;
inline constexpr TErrorCode TARN_OSENOENT = 11010;
inline constexpr TErrorCode TARN_OSEMFILE = 11012;
inline constexpr TErrorCode TARN_OSEACCES = 11013;
inline constexpr TErrorCode TARN_OSEBADF = 11014;
inline constexpr TErrorCode TARN_OSENOMEM = 11016;
inline constexpr TErrorCode TARN_OSEINVMEM = 11017;
inline constexpr TErrorCode TARN_OSENODEV = 11023;
inline constexpr TErrorCode TARN_OSENOTSAM = 11025;
inline constexpr TErrorCode TARN_OSUNKNOWN = 11047;
inline constexpr TErrorCode TARN_REMOTECOMMLOST = 11276;
inline constexpr TErrorCode TARN_REMOTEUNKNOWN = 11279;
inline constexpr TErrorCode TARN_REMOTECONNECT = 11280;
inline constexpr TErrorCode TARN_REMOTENOLOGIN = 11281;
inline constexpr TErrorCode TARN_REMOTEMAXCONNECT = 11282;
inline constexpr TErrorCode TARN_REMOTEADDRESSBLOCK = 11283;
inline constexpr TErrorCode TARN_REMOTECALLBACK = 11284;
inline constexpr TErrorCode TARN_REMOTECALLBACKERR = 11285;
inline constexpr TErrorCode TARN_REMOTEVERSION = 11286;
inline constexpr TErrorCode TARN_REMOTEINVLOGIN = 11287;
inline constexpr TErrorCode TARN_REMOTENOTAUTH = 11288;
inline constexpr TErrorCode TARN_REMOTENOTADMIN = 11289;
inline constexpr TErrorCode TARN_REMOTEINVUSER = 11290;
inline constexpr TErrorCode TARN_REMOTENOUSER = 11291;
inline constexpr TErrorCode TARN_REMOTEDUPUSER = 11292;
inline constexpr TErrorCode TARN_REMOTEINVDB = 11293;
inline constexpr TErrorCode TARN_REMOTENODB = 11294;
inline constexpr TErrorCode TARN_REMOTEDUPDB = 11295;
inline constexpr TErrorCode TARN_REMOTEINVDBUSER = 11296;
inline constexpr TErrorCode TARN_REMOTENODBUSER = 11297;
inline constexpr TErrorCode TARN_REMOTEDUPDBUSER = 11298;
inline constexpr TErrorCode TARN_REMOTEINVREQUEST = 11299;
inline constexpr TErrorCode TARN_IMPORTERROR = 11300;
inline constexpr TErrorCode TARN_EXPORTERROR = 11301;
inline constexpr TErrorCode TARN_SQLPARSE = 11949;
inline constexpr TErrorCode TARN_OLDVERSION = 12035;
inline constexpr TErrorCode TARN_SEARCHCOLREQD = 12292;
inline constexpr TErrorCode TARN_TABLEEXISTS = 13060;
inline constexpr TErrorCode TARN_COMPRESS = 15001;
inline constexpr TErrorCode TARN_UNCOMPRESS = 15002;
inline constexpr TErrorCode TARN_CANNOTLOADLDDRV = 15878;

// Broad classes of codes, so that callers need not compare raw numbers.
enum class TErrorClass {
  None,        // 0
  Position,    // BOF, EOF, no current record, record not found
  Corruption,  // damaged headers, records, blocks or pages
  Lock,        // a lock held by someone else, or a lock that could not be given back
  Other,
};

TErrorClass ClassifyError(TErrorCode code);

inline bool IsLockConflict(TErrorCode code) { return ClassifyError(code) == TErrorClass::Lock; }
inline bool IsCorruption(TErrorCode code) { return ClassifyError(code) == TErrorClass::Corruption; }

}  // namespace tarn
