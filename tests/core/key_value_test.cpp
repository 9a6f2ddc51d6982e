#include "core/key_value.h"

#include <gtest/gtest.h>

#include <string>

using namespace pelko::registry;
using namespace std::string_literals;

namespace {

constexpr const char* kKey = "SOFTWARE/Shared Tools/SysInfo";
constexpr KeyHandle kHandle = 7;

// A store of one value that counts its open keys, so a leaked key shows. Like
// every source it can only open keys for reading: the interface has no other
// way to open one, so no lookup asks for rights it does not need.
class FakeSource : public KeyValueSource {
public:
    std::optional<KeyHandle> OpenForRead(std::uint32_t root, const std::string& path) override {
        if (refused || root != kLocalMachine || path != kKey) return std::nullopt;
        ++open;
        return kHandle;
    }
    std::optional<RawValue> Query(KeyHandle key, const std::string& name) override {
        EXPECT_EQ(key, kHandle);
        return name == "PATH" ? std::optional(value) : std::nullopt;
    }
    void Close(KeyHandle key) override {
        EXPECT_EQ(key, kHandle);
        --open;
    }

    RawValue value;
    bool refused = false;
    int open = 0;
};

}  // namespace

TEST(GetKeyValue, DecodesEachTypeAndFailsWithAnEmptyText) {
    const struct {
        ValueType type;
        std::string data;
        bool found;
        std::string want;  // KeyVal held "before" on entry
        bool refused = false;
        const char* name = "PATH";
    } cases[] = {
        // Only one terminator goes; data without one stays whole.
        {ValueType::String, "/usr/bin/sysinfo\0"s, true, "/usr/bin/sysinfo"},
        {ValueType::String, "no terminator", true, "no terminator"},
        {ValueType::String, "ab\0\0"s, true, "ab\0"s},
        {ValueType::String, "", true, ""},
        {ValueType::String, std::string(1024, 'x'), true, std::string(1024, 'x')},
        {ValueType::Number32, "\x2B\x1A\0\0"s, true, "&h1A2B"},
        {ValueType::Number32, "\xFF\xFF\xFF\xFF", true, "&hFFFFFFFF"},
        {ValueType::Number32, "\x80", true, "&h80"},
        // Other types leave the text as it was, and still succeed.
        {ValueType::ExpandString, "%SystemRoot%\\x\0"s, true, "before"},
        {ValueType::Other, "\x01\x02", true, "before"},
        // A refused (or missing) key, a missing value, data over 1024 bytes.
        {ValueType::String, "x", false, "", true},
        {ValueType::String, "x", false, "", false, "MSINFO"},
        {ValueType::String, std::string(1024, 'x') + '\0', false, ""},
    };
    for (const auto& c : cases) {
        FakeSource source;
        source.value = RawValue{c.type, c.data};
        source.refused = c.refused;
        std::string key_val = "before";
        EXPECT_EQ(GetKeyValue(source, kLocalMachine, kKey, c.name, key_val), c.found);
        EXPECT_EQ(key_val, c.want) << testing::PrintToString(c.data);
        EXPECT_EQ(source.open, 0);
    }
}
