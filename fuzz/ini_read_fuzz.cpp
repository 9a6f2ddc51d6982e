// The profile reader on any file: the value it returns comes from the file,
// and the rules it documents hold (names match without regard to case and
// blanks, a byte order mark and CR LF line ends change nothing).

#include <string>

#include "core/ini_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelko;
    fuzz::Input input(data, size);
    const std::string section(input.Text());
    const std::string key(input.Text());
    const std::string file(input.Rest());
    const std::string absent(fuzz::kAbsent);

    const std::string value =
        ini::ReadIniValue(fuzz::PutFile("read.ini", file), section, key, absent);
    if (value != absent) {
        PELKO_FUZZ_CHECK(value.size() <= ini::kMaxValueBytes);
        PELKO_FUZZ_CHECK(value.find('\n') == std::string::npos);
        PELKO_FUZZ_CHECK(value.find('\0') == std::string::npos);
        PELKO_FUZZ_CHECK(file.find(value) != std::string::npos);
    }

    const std::string path = fuzz::ScratchDir::Path() + "/read.ini";
    PELKO_FUZZ_CHECK(ini::ReadIniValue(path, " " + fuzz::AsciiUpper(section) + "\t",
                                       fuzz::AsciiUpper(key), absent) == value);

    if (file.compare(0, 3, "\xEF\xBB\xBF") != 0) {
        fuzz::PutFile("bom.ini", "\xEF\xBB\xBF" + file);
        PELKO_FUZZ_CHECK(ini::ReadIniValue(fuzz::ScratchDir::Path() + "/bom.ini", section, key,
                                           absent) == value);
    }
    if (file.find('\r') == std::string::npos) {
        std::string crlf;
        for (const char c : file) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        fuzz::PutFile("crlf.ini", crlf);
        PELKO_FUZZ_CHECK(ini::ReadIniValue(fuzz::ScratchDir::Path() + "/crlf.ini", section, key,
                                           absent) == value);
    }
    return 0;
}
