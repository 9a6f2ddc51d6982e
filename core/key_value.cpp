#include "core/key_value.h"

#include <string_view>

namespace pelko::registry {
namespace {

// Closes the key on every way out of the lookup.
class OpenKey {
public:
    OpenKey(KeyValueSource& source, KeyHandle key) : source_(source), key_(key) {}
    ~OpenKey() { source_.Close(key_); }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    KeyHandle get() const { return key_; }

private:
    KeyValueSource& source_;
    KeyHandle key_;
};

std::string_view WithoutTerminator(std::string_view data) {
    // Empty data has no last byte to look at: it stays empty.
    if (!data.empty() && data.back() == '\0') data.remove_suffix(1);
    return data;
}

// The number is taken from the data as stored, not from the trimmed text: a
// number whose top byte is zero would otherwise lose that byte.
std::string HexText(std::string_view data) {
    std::uint32_t number = 0;
    const std::size_t count = data.size() < 4 ? data.size() : 4;
    for (std::size_t i = count; i-- > 0;) {
        number = (number << 8) | static_cast<unsigned char>(data[i]);
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string digits;
    do {
        digits.insert(digits.begin(), kDigits[number & 0xF]);
        number >>= 4;
    } while (number != 0);
    return "&h" + digits;
}

}  // namespace

bool GetKeyValue(KeyValueSource& source, std::uint32_t key_root, const std::string& key_name,
                 const std::string& sub_key_ref, std::string& key_val) {
    const std::optional<KeyHandle> handle = source.OpenForRead(key_root, key_name);
    if (!handle) {
        key_val.clear();
        return false;
    }
    const OpenKey key(source, *handle);
    const std::optional<RawValue> value = source.Query(key.get(), sub_key_ref);
    if (!value || value->bytes.size() > kMaxValueBytes) {
        key_val.clear();
        return false;
    }
    switch (value->type) {
        case ValueType::String:
            key_val = std::string(WithoutTerminator(value->bytes));
            break;
        case ValueType::Number32:
            key_val = HexText(value->bytes);
            break;
        case ValueType::ExpandString:
        case ValueType::Other:
            break;
    }
    return true;
}

}  // namespace pelko::registry
