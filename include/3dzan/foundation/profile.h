/// \file profile.h
/// \brief The application profile: named values in sections ("Render"), kept in the INI
///        file `profile.ini` of the configuration folder (see services.h).
///
/// File format: `[Section]` lines followed by `key=value` lines; blanks around section
/// names, keys and values are ignored; lines starting with ';' or '#' are comments. Integers
/// are written in decimal and read in decimal or, with a `0x` prefix, in hexadecimal.
/// String values escape backslash, newline, carriage return and tab as `\\`, `\n`, `\r`,
/// `\t`, and are written between double quotes when they start or end with a blank or a
/// quote.
///
/// Sections and keys are compared without regard to ASCII case ("Render" and "render" are
/// the same section), as the profiles of the desktop systems do; the spelling of the first
/// write is kept in the file.
///
/// Reading is tolerant. A file that is not text (it holds a NUL byte) or is larger than
/// kProfileMaxFileSize is ignored as a whole; otherwise each line that cannot be read (too
/// long, no '=', a key outside any section, a broken section header and the keys under it)
/// is ignored alone. A value that does not parse as the type asked for gives the default.
/// Reading never changes the file. A write rewrites the whole file from the values read
/// plus the change: comments and the lines that could not be read are dropped then. The
/// new file is written next to the old one, synchronised to disk and renamed over it, so a
/// failed write leaves the old file whole. When the file exists but cannot be read (an I/O
/// error, no permission), writes fail rather than replace it.
///
/// The values are cached after the first read; a call notices a change of the file on disk
/// (modification time, size or identity) and reads it again. All functions are thread-safe.
#pragma once

#include <3dzan/foundation/xstring.h>

#include <cstdint>

/// Larger profile files are ignored as a whole, in bytes.
constexpr size_t kProfileMaxFileSize = 4 * 1024 * 1024;
/// Longer lines of a profile file are ignored, in bytes.
constexpr size_t kProfileMaxLineLength = 16 * 1024;

/// \brief An unsigned 32-bit value; \p defaultValue when absent or unreadable (negative,
///        larger than 0xFFFFFFFF, not a number).
ZAN_API uint32_t GetProfileLongUInt(const char* section, const char* key, uint32_t defaultValue);
/// \brief Writes an unsigned 32-bit value. False when the file cannot be written or the
///        section or key cannot be stored (see WriteProfileString).
ZAN_API bool WriteProfileLongUInt(const char* section, const char* key, uint32_t value);

/// \brief A signed 32-bit value; \p defaultValue when absent or outside the int range.
ZAN_API int GetProfileInt(const char* section, const char* key, int defaultValue);
ZAN_API bool WriteProfileInt(const char* section, const char* key, int value);

/// \brief An unsigned 64-bit value; \p defaultValue when absent or unreadable.
ZAN_API uint64_t GetProfileUInt64(const char* section, const char* key, uint64_t defaultValue);
ZAN_API bool WriteProfileUInt64(const char* section, const char* key, uint64_t value);

/// \brief A string value; \p defaultValue (null is the empty string) when absent.
ZAN_API CXTString GetProfileString(const char* section, const char* key, const char* defaultValue);
/// \brief Writes a string value (null is the empty string).
/// \return false when the file cannot be written, or when the section or key is null, empty,
///         or holds a character the file cannot keep: a control character, ']' in a
///         section, '=' in a key, or a key starting with '[', ';' or '#'.
ZAN_API bool WriteProfileString(const char* section, const char* key, const char* value);

/// \brief Whether the value exists (whatever it holds).
ZAN_API bool HasProfileValue(const char* section, const char* key);
/// \brief Removes a value, and its section when it was the last.
/// \return true when the value is gone afterwards (also when it did not exist: nothing is
///         written then); false when the file cannot be read or written.
ZAN_API bool DeleteProfileValue(const char* section, const char* key);

/// \brief Forgets the cached values; the next call reads the file again.
ZAN_API void ReloadProfile();
/// \brief The profile file's path: the configuration folder followed by `profile.ini`;
///        empty when no configuration folder can be found.
ZAN_API CXTString GetProfilePath();
