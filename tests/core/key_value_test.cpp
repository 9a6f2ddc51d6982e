#include "core/key_value.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace pelko::registry;
using namespace std::string_literals;

namespace {

constexpr const char* kKey = "SOFTWARE/Shared Tools/SysInfo";

// An in-memory store that counts its open keys, so a leaked key shows.
class FakeSource : public KeyValueSource {
public:
    std::optional<KeyHandle> OpenForRead(std::uint32_t root, const std::string& path) override {
        if (refused || root != kLocalMachine || path != kKey) return std::nullopt;
        open.insert(++last);
        return last;
    }
    std::optional<RawValue> Query(KeyHandle key, const std::string& name) override {
        EXPECT_TRUE(open.count(key));
        const auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    void Close(KeyHandle key) override { EXPECT_EQ(open.erase(key), 1u); }

    std::map<std::string, RawValue> values;
    bool refused = false;
    std::set<KeyHandle> open;
    KeyHandle last = 0;
};

}  // namespace

TEST(GetKeyValue, DecodesEachTypeOfValue) {
    struct Case {
        ValueType type;
        std::string data;
        std::string want;  // KeyVal held "before" on entry
    };
    const std::vector<Case> cases = {
        {ValueType::String, "/usr/bin/sysinfo\0"s, "/usr/bin/sysinfo"},
        {ValueType::String, "no terminator", "no terminator"},
        {ValueType::String, "ab\0cd\0"s, "ab\0cd"s},
        {ValueType::String, "ab\0\0"s, "ab\0"s},
        {ValueType::String, "\0"s, ""},
        {ValueType::String, "", ""},
        {ValueType::String, std::string(1023, 'x') + '\0', std::string(1023, 'x')},
        {ValueType::String, std::string(1024, 'x'), std::string(1024, 'x')},
        {ValueType::String, "\xE7\x89\x88\0"s, "\xE7\x89\x88"},
        {ValueType::Number32, "\x2B\x1A\0\0"s, "&h1A2B"},
        {ValueType::Number32, "\0\0\0\0"s, "&h0"},
        {ValueType::Number32, "\xFF\xFF\xFF\xFF", "&hFFFFFFFF"},
        {ValueType::Number32, "\x05\0\0\x01"s, "&h1000005"},
        {ValueType::Number32, "\x80", "&h80"},
        {ValueType::Number32, "", "&h0"},
        {ValueType::ExpandString, "%SystemRoot%\\x\0"s, "before"},
        {ValueType::Other, "\x01\x02", "before"},
    };
    for (const auto& c : cases) {
        FakeSource source;
        source.values["PATH"] = RawValue{c.type, c.data};
        std::string key_val = "before";
        EXPECT_TRUE(GetKeyValue(source, kLocalMachine, kKey, "PATH", key_val));
        EXPECT_EQ(key_val, c.want) << testing::PrintToString(c.data);
        EXPECT_TRUE(source.open.empty());
    }
}

TEST(GetKeyValue, FailuresGiveFalseAndAnEmptyText) {
    const struct {
        const char* what;
        std::uint32_t root;
        bool refused;
        std::string value;
    } cases[] = {
        {"missing key", kLocalMachine + 1, false, "PATH"},
        {"refused key", kLocalMachine, true, "PATH"},
        {"missing value", kLocalMachine, false, "MSINFO"},
        {"over 1024 bytes", kLocalMachine, false, "BIG"},
    };
    for (const auto& c : cases) {
        FakeSource source;
        source.refused = c.refused;
        source.values["PATH"] = RawValue{ValueType::String, "/usr/bin/sysinfo"};
        source.values["BIG"] = RawValue{ValueType::String, std::string(1024, 'x') + '\0'};
        std::string key_val = "before";
        EXPECT_FALSE(GetKeyValue(source, c.root, kKey, c.value, key_val)) << c.what;
        EXPECT_EQ(key_val, "") << c.what;
        EXPECT_TRUE(source.open.empty()) << c.what;
    }
}
