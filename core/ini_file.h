#pragma once

// Profile (INI) files: the version files "update.ini" and "up.ini" are read
// and written through these two functions. They keep the habits of the
// profile-string functions the files were made for:
//
// - Section and key names match without regard to ASCII letter case, and
//   blanks (spaces, tabs) around a name do not count, so "[ Ver ]" holds the
//   key " VERSION = 1.0" that a caller asks for as "ver" / "version".
// - Leading blanks of a line are skipped; a line whose first other character
//   is ";" is a comment; a line without "=" is no key; the first section of a
//   name and the first key of a name within it are the ones read and written.
// - A value is the text after the first "=" of its line, up to the first NUL
//   byte, without surrounding blanks; a value wrapped in a matching pair of
//   single or double quotes loses the pair; it is cut to kMaxValueBytes bytes,
//   never inside a UTF-8 character.
// - A UTF-8 byte order mark at the start of the file is skipped and kept.
// - Lines end at LF; a CR before the LF belongs to the line ending.
//
// Only the first kMaxFileBytes bytes of a file are read: the service's file
// comes from the network, and a huge or endless one must not stall the start.
// Whatever lies beyond the cap (and a line cut by it) reads as absent.

#include <cstddef>
#include <string>
#include <string_view>

namespace pelko::ini {

// The read buffer of the profile functions held 32767 bytes with the NUL.
constexpr std::size_t kMaxValueBytes = 32766;
// How much of a file is looked at; a bigger file is read only that far and
// is never rewritten (a rewrite must keep every byte, which needs them all).
constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

// The value of `key` in `section` of the file at `path`, or `default_value`
// when the file (or anything that is not a regular file), the section or the
// key is missing or cannot be read. Never throws for the file's content.
std::string ReadIniValue(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view default_value);

// Sets `key` in `section` of the file at `path` to `value`, creating the
// file, the section or the key when missing. A value with blanks at either
// end, or wrapped in a pair of quotes, is written inside double quotes, so
// that it reads back as it was given. Every other byte of the file
// stays as it was; a new line takes the file's line ending (CRLF when its
// first line ends so, otherwise LF), and a file without a final line ending
// still has none afterwards.
//
// The file is replaced atomically: the new content goes to a temporary file
// in the same folder, which is flushed to disk and renamed over the old one
// with its permission bits (and, where allowed, its owner). A failure leaves
// the old file whole and no temporary file behind.
//
// Returns false on failure and, when `error` is given, puts a description
// there. The version check does not look at the result (an unrecorded
// version only means the question comes again at the next start), so the
// failure is reported rather than thrown. A write is refused when it could
// not be read back as written or would damage other lines: a name that is
// empty or holds a CR, LF or NUL, a section name with "]", a key name with
// "=" or starting with ";" or "[", a value with a CR, LF or NUL; and when the
// file is bigger than kMaxFileBytes, not a regular file, not writable for
// this process (a read-only file stays read-only) or a dangling link.
// A link is followed: the file it names is replaced, the link stays.
bool WriteIniValue(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value, std::string* error = nullptr);

}  // namespace pelko::ini
