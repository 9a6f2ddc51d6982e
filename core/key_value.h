#pragma once

// Reading one value from a key-value store laid out like the system registry
// (root, key path, value name), and the rules by which the About box turns
// its raw bytes into text. The store itself is behind KeyValueSource, so the
// rules hold for whatever stands in for the registry on this platform.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace pelko::registry {

// The root the About box looks under: the machine-wide settings.
constexpr std::uint32_t kLocalMachine = 0x80000002;

// A value whose data is bigger than this reads as a failure, as it did with
// the fixed buffer the lookup was made for.
constexpr std::size_t kMaxValueBytes = 1024;

enum class ValueType {
    String,        // text, normally with one NUL terminator
    ExpandString,  // text with environment references, not expanded here
    Number32,      // a 32-bit number, least significant byte first
    Other,         // anything else (binary data, lists of texts, ...)
};

struct RawValue {
    ValueType type = ValueType::Other;
    std::string bytes;  // the data exactly as stored, NULs included
};

using KeyHandle = std::uint64_t;

// A store that can only be read: there is no way to open a key for writing,
// so no lookup can be refused for asking rights it does not need.
class KeyValueSource {
public:
    virtual ~KeyValueSource() = default;
    // Opens `key_path` under `root` for reading; nullopt when the key is
    // missing or reading it is refused.
    virtual std::optional<KeyHandle> OpenForRead(std::uint32_t root,
                                                 const std::string& key_path) = 0;
    // The type and data of a value of an open key; nullopt when it is missing
    // or cannot be read.
    virtual std::optional<RawValue> Query(KeyHandle key, const std::string& value_name) = 0;
    // Releases a key that OpenForRead returned; called once for each.
    virtual void Close(KeyHandle key) = 0;
};

// Reads the value `sub_key_ref` of the key `key_name` under `key_root` into
// `key_val`:
// - The data loses its last byte when that byte is NUL (one terminator; a NUL
//   before it stays, and data without a terminator stays whole).
// - String: `key_val` becomes that text (bytes as stored, UTF-8 here).
// - Number32: `key_val` becomes "&h" and the number in upper-case hexadecimal
//   without leading zeros ("&h1A2B", "&h0"); the number is read from the
//   data's first four bytes, least significant first (fewer bytes give the
//   smaller number they spell).
// - Any other type leaves `key_val` as it was.
// In those three cases the result is true. A missing or refused key, a
// missing or unreadable value, or data over kMaxValueBytes bytes give false
// and an empty `key_val`. A key that was opened is always closed again.
bool GetKeyValue(KeyValueSource& source, std::uint32_t key_root, const std::string& key_name,
                 const std::string& sub_key_ref, std::string& key_val);

}  // namespace pelko::registry
