#pragma once

// A fresh folder for one test, removed with everything in it afterwards.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>

namespace pelko::test {

class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pelko-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string PathOf(const std::string& name) const { return (path_ / name).string(); }
    // Writes a file of exactly these bytes and returns its path.
    std::string Put(const std::string& name, const std::string& bytes) const {
        const auto p = PathOf(name);
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    // A file's bytes, "" when there is none; a whole path may stand for the name.
    std::string Read(const std::string& name) const {
        std::ifstream in(path_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // The names the folder holds: a temporary file left behind shows here.
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_))
            names.insert(e.path().filename().string());
        return names;
    }

private:
    std::filesystem::path path_;
};

}  // namespace pelko::test
