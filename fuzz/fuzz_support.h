#pragma once

// What every fuzz target shares: a reader over the input that hands out
// pieces of it, a check that ends the run when a property fails, and a
// private scratch folder for the readers that work on files.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

namespace pelko::fuzz {

// A failed property is a finding: print it and stop the way a sanitizer
// does, so that libFuzzer saves the input.
[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, what);
    std::abort();
}

#define PELKO_FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : ::pelko::fuzz::Fail(#condition, __FILE__, __LINE__))

// Splits the input into pieces. Texts are separated by a zero byte, so that
// hand-made seeds stay readable; numbers are taken from the end.
class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size)
        : rest_(reinterpret_cast<const char*>(data), size) {}

    // The text up to the next zero byte (or the end), which is used up.
    std::string_view Text() {
        const auto zero = rest_.find('\0');
        const std::string_view text = rest_.substr(0, zero);
        rest_ = zero == std::string_view::npos ? std::string_view{} : rest_.substr(zero + 1);
        return text;
    }
    // Whatever is left, zero bytes included.
    std::string_view Rest() {
        const std::string_view text = rest_;
        rest_ = {};
        return text;
    }
    // A number made of the last bytes; 0 once the input is used up.
    template <typename T>
    T Number() {
        T value{};
        const std::size_t take = rest_.size() < sizeof(T) ? rest_.size() : sizeof(T);
        std::memcpy(&value, rest_.data() + rest_.size() - take, take);
        rest_.remove_suffix(take);
        return value;
    }
    bool Empty() const { return rest_.empty(); }

  private:
    std::string_view rest_;
};

// A default no file can give: it tells an absent value from any value.
inline constexpr std::string_view kAbsent = "\x01\x02 absent";

// The profile rules' blanks and letter case, for stating them from outside.
inline std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}
inline std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

// A folder of this process's own, made once and removed at exit. On a
// memory file system where there is one, since the readers sync what they
// write.
class ScratchDir {
  public:
    static const std::string& Path() {
        static ScratchDir dir;
        return dir.path_;
    }

  private:
    ScratchDir() {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/pelko-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) Fail("no scratch folder", __FILE__, __LINE__);
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string path_;
};

// Writes the bytes to a file of the scratch folder and returns its path.
inline std::string PutFile(const std::string& name, std::string_view bytes) {
    const std::string path = ScratchDir::Path() + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) Fail("cannot write a scratch file", __FILE__, __LINE__);
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        Fail("cannot write a scratch file", __FILE__, __LINE__);
    std::fclose(f);
    return path;
}

inline std::string ReadFile(const std::string& path) {
    std::string out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, n);
    std::fclose(f);
    return out;
}

}  // namespace pelko::fuzz
