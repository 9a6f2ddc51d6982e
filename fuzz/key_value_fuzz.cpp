// The registry value rules on any stored bytes: texts lose one terminator,
// numbers read least significant byte first into "&h" and upper-case hex,
// oversized data fails, and every key that was opened is closed once.

#include <string>

#include "core/key_value.h"
#include "fuzz_support.h"

namespace {

using namespace pelko::registry;

class FuzzSource : public KeyValueSource {
  public:
    bool key_exists = true;
    std::optional<RawValue> value;
    int open = 0;
    int closed = 0;

    std::optional<KeyHandle> OpenForRead(std::uint32_t, const std::string&) override {
        if (!key_exists) return std::nullopt;
        ++open;
        return 7;
    }
    std::optional<RawValue> Query(KeyHandle key, const std::string&) override {
        PELKO_FUZZ_CHECK(key == 7 && open > closed);
        return value;
    }
    void Close(KeyHandle key) override {
        PELKO_FUZZ_CHECK(key == 7);
        ++closed;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pelko::fuzz::Input input(data, size);
    const auto shape = input.Number<std::uint8_t>();
    FuzzSource source;
    source.key_exists = (shape & 0x10) == 0;
    RawValue raw;
    raw.type = static_cast<ValueType>(shape % 4);
    raw.bytes = std::string(input.Rest());
    if ((shape & 0x20) == 0) source.value = raw;

    std::string result = "before";
    const bool ok = GetKeyValue(source, kLocalMachine, "key", "value", result);
    PELKO_FUZZ_CHECK(source.open == (source.key_exists ? 1 : 0));
    PELKO_FUZZ_CHECK(source.closed == source.open);
    if (!source.value || !source.key_exists || raw.bytes.size() > kMaxValueBytes) {
        PELKO_FUZZ_CHECK(!ok && result.empty());
        return 0;
    }
    PELKO_FUZZ_CHECK(ok);
    switch (raw.type) {
        case ValueType::String: {
            std::string want = raw.bytes;
            if (!want.empty() && want.back() == '\0') want.pop_back();
            PELKO_FUZZ_CHECK(result == want);
            break;
        }
        case ValueType::Number32: {
            PELKO_FUZZ_CHECK(result.size() >= 3 && result.size() <= 10);
            PELKO_FUZZ_CHECK(result.compare(0, 2, "&h") == 0);
            PELKO_FUZZ_CHECK(result.size() == 3 || result[2] != '0');
            PELKO_FUZZ_CHECK(result.find_first_not_of("0123456789ABCDEF", 2) == std::string::npos);
            std::uint32_t want = 0;
            for (std::size_t i = 0; i < raw.bytes.size() && i < 4; ++i) {
                want |= static_cast<std::uint32_t>(static_cast<unsigned char>(raw.bytes[i]))
                        << (8 * i);
            }
            PELKO_FUZZ_CHECK(std::stoul(result.substr(2), nullptr, 16) == want);
            break;
        }
        default:
            PELKO_FUZZ_CHECK(result == "before");
            break;
    }
    return 0;
}
