#include "core/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include "core/program_folder.h"
#include "core/text.h"
#include "core/unique_fd.h"

namespace pelko::ini {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr int kTempAttempts = 16;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

enum class LineKind { Blank, Comment, Section, Key, Other };

struct Line {
    std::size_t begin = 0;        // first byte
    std::size_t content_end = 0;  // end of the text, before the line ending
    std::size_t end = 0;          // after the line ending; == content_end when there is none
    LineKind kind = LineKind::Other;
    std::string_view name;   // section or key name, trimmed
    std::size_t equals = 0;  // position of the first "=" of a key line
};

Line Classify(std::string_view text, std::size_t begin, std::size_t content_end, std::size_t end) {
    Line line;
    line.begin = begin;
    line.content_end = content_end;
    line.end = end;
    std::size_t p = begin;
    while (p < content_end && IsBlank(text[p])) ++p;
    const std::string_view body = text.substr(p, content_end - p);
    if (body.empty()) {
        line.kind = LineKind::Blank;
        return line;
    }
    if (body.front() == ';') {
        line.kind = LineKind::Comment;
        return line;
    }
    if (body.front() == '[') {
        const auto close = body.find(']');
        if (close != std::string_view::npos) {
            line.kind = LineKind::Section;
            line.name = Trim(body.substr(1, close - 1));
            return line;
        }
        // An unclosed bracket is no header; the line may still be a key.
    }
    const auto equals = body.find('=');
    if (equals == std::string_view::npos) {
        // The profile functions read no value from a line without "=", and
        // treating it as no key at all keeps a later write readable.
        line.kind = LineKind::Other;
        return line;
    }
    line.kind = LineKind::Key;
    line.name = Trim(body.substr(0, equals));
    line.equals = p + equals;
    return line;
}

std::vector<Line> SplitLines(std::string_view text, std::size_t start) {
    std::vector<Line> lines;
    std::size_t begin = start;
    while (begin < text.size()) {
        const auto newline = text.find('\n', begin);
        const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
        std::size_t content_end = newline == std::string_view::npos ? text.size() : newline;
        if (content_end > begin && text[content_end - 1] == '\r') --content_end;
        lines.push_back(Classify(text, begin, content_end, end));
        begin = end;
    }
    return lines;
}

std::size_t ContentStart(std::string_view text) {
    return text.substr(0, kUtf8Bom.size()) == kUtf8Bom ? kUtf8Bom.size() : 0;
}

// Where a key is, or where it would go.
struct Location {
    std::optional<std::size_t> section;  // index of the section's header line
    std::optional<std::size_t> key;      // index of the key's line
    std::size_t last_entry = 0;  // the section's last line that is neither blank nor comment
};

Location Find(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location at;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.kind == LineKind::Section) {
            // Only the first section of a name counts; a later one of the same
            // name is never looked into.
            if (at.section) break;
            if (text::EqualsIgnoringAsciiCase(line.name, section)) {
                at.section = i;
                at.last_entry = i;
            }
            continue;
        }
        if (!at.section) continue;
        if (line.kind == LineKind::Key && text::EqualsIgnoringAsciiCase(line.name, key)) {
            at.key = i;
            break;
        }
        if (line.kind == LineKind::Key || line.kind == LineKind::Other) at.last_entry = i;
    }
    return at;
}

// The stored value of a key line, up to its end or first NUL, without blanks.
std::string_view RawValue(std::string_view text, const Line& line) {
    std::string_view value = text.substr(line.equals + 1, line.content_end - line.equals - 1);
    const auto nul = value.find('\0');
    if (nul != std::string_view::npos) value = value.substr(0, nul);
    return Trim(value);
}

std::string ErrnoText(const std::string& what, const std::string& path, int err) {
    return what + " " + path + ": " + std::strerror(err);
}

struct Loaded {
    bool exists = false;
    bool truncated = false;  // the file held more than kMaxFileBytes
    std::string bytes;
    struct stat info {};
    std::string error;  // set when the file exists but could not be read
};

// Reads at most kMaxFileBytes of a regular file. O_NONBLOCK keeps a FIFO put
// in the file's place from blocking the open; it is refused right after.
Loaded LoadCapped(const std::string& path) {
    Loaded out;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        if (errno != ENOENT) out.error = ErrnoText("cannot open", path, errno);
        return out;
    }
    out.exists = true;
    if (::fstat(fd.get(), &out.info) != 0) {
        out.error = ErrnoText("cannot inspect", path, errno);
        return out;
    }
    if (!S_ISREG(out.info.st_mode)) {
        out.error = path + " is not a regular file";
        return out;
    }
    std::vector<char> chunk(kReadChunk);
    while (out.bytes.size() <= kMaxFileBytes) {
        const std::size_t want = std::min(chunk.size(), kMaxFileBytes + 1 - out.bytes.size());
        const ssize_t got = ::read(fd.get(), chunk.data(), want);
        if (got < 0) {
            if (errno == EINTR) continue;
            out.error = ErrnoText("cannot read", path, errno);
            return out;
        }
        if (got == 0) break;
        out.bytes.append(chunk.data(), static_cast<std::size_t>(got));
    }
    if (out.bytes.size() > kMaxFileBytes) {
        out.truncated = true;
        out.bytes.resize(kMaxFileBytes);
    }
    return out;
}

bool Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

bool HasAny(std::string_view s, std::string_view bytes) {
    return s.find_first_of(bytes) != std::string_view::npos;
}

constexpr std::string_view kLineBreakOrNul{"\r\n\0", 3};

std::optional<std::string> CheckArguments(std::string_view section, std::string_view key,
                                          std::string_view value) {
    if (section.empty() || key.empty()) return "an empty section or key name cannot be written";
    if (HasAny(section, kLineBreakOrNul) || section.find(']') != std::string_view::npos)
        return "the section name holds a line break, NUL or \"]\"";
    if (HasAny(key, kLineBreakOrNul) || key.find('=') != std::string_view::npos ||
        key.front() == ';' || key.front() == '[')
        return "the key name holds a line break, NUL or \"=\", or starts with \";\" or \"[\"";
    if (HasAny(value, kLineBreakOrNul)) return "the value holds a line break or NUL";
    return std::nullopt;
}

std::string_view LineEnding(std::string_view text) {
    const auto newline = text.find('\n');
    if (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r')
        return "\r\n";
    return "\n";
}

// A value the reader would change, by taking off its blanks or a pair of
// quotes around it, is stored inside one more pair of double quotes, which
// the reader takes off again.
std::string StoredValue(std::string_view value) {
    const bool blank_edge = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    if (!blank_edge && !quoted) return std::string(value);
    return "\"" + std::string(value) + "\"";
}

// The file's new content with the key set; every byte outside the changed or
// added line is copied unchanged.
std::string Edit(const std::string& old, std::string_view section, std::string_view key,
                 std::string_view raw_value) {
    const std::string stored = StoredValue(raw_value);
    const std::string_view value = stored;
    const std::size_t start = ContentStart(old);
    const std::vector<Line> lines = SplitLines(old, start);
    const Location at = Find(lines, section, key);
    const std::string_view eol = LineEnding(old);
    const std::string key_line = std::string(key) + "=" + std::string(value);
    std::string out = old;

    if (at.key) {
        const Line& line = lines[*at.key];
        // Replace the old value and whatever followed it on the line (a NUL
        // and garbage included), keeping the blanks the line put around "=".
        std::size_t from = line.equals + 1;
        while (from < line.content_end && IsBlank(old[from])) ++from;
        std::size_t to = line.content_end;
        while (to > from && IsBlank(old[to - 1])) --to;
        if (from == to || value.empty()) {
            // An empty value, old or new: blanks after "=" alone are no spacing
            // worth keeping, and keeping them would make the next write of the
            // same empty value change the file again.
            from = line.equals + 1;
            to = line.content_end;
        }
        out.replace(from, to - from, value);
        return out;
    }
    if (at.section) {
        const Line& after = lines[at.last_entry];
        // A CR alone at the very end is no line ending: a line put behind it
        // would be read as part of it.
        if (after.end > after.content_end && old[after.end - 1] == '\n') {
            out.insert(after.end, key_line + std::string(eol));
        } else {
            // The last line of a file without a final line ending: the new
            // line goes behind it and, like it, ends without one.
            out.insert(after.end, std::string(eol) + key_line);
        }
        return out;
    }
    const std::string header = "[" + std::string(section) + "]";
    if (out.size() == start || out.back() == '\n') {
        out += header + std::string(eol) + key_line + std::string(eol);
    } else {
        out += std::string(eol) + header + std::string(eol) + key_line;
    }
    return out;
}

// Where a write must land: the path itself, or the file a link names, so
// that the link survives the replacement.
bool ResolveTarget(const std::string& path, std::string& target, std::string* error) {
    struct stat link_info {};
    if (::lstat(path.c_str(), &link_info) != 0) {
        if (errno != ENOENT) return Fail(error, ErrnoText("cannot inspect", path, errno));
        target = path;
        return true;
    }
    if (!S_ISLNK(link_info.st_mode)) {
        target = path;
        return true;
    }
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        return Fail(error, ErrnoText("cannot follow the link", path, errno));
    target = resolved;
    return true;
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TempSuffix() {
    std::random_device device;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string suffix;
    for (int i = 0; i < 2; ++i) {
        std::uint32_t bits = device();
        for (int d = 0; d < 8; ++d, bits >>= 4) suffix += kDigits[bits & 0xF];
    }
    return suffix;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t done = ::write(fd, data.data(), data.size());
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(done));
    }
    return true;
}

void SyncFolder(const std::string& folder) {
    // Makes the rename itself durable; a folder that refuses is no failure
    // of the write, which has already taken place.
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

// Writes content to a new temporary file beside target and renames it over
// target. Any failure removes the temporary file and leaves target alone.
bool ReplaceFile(const std::string& target, const std::string& content, const Loaded& old,
                 std::string* error) {
    const std::string folder = DirName(target);
    const std::string stem = folder + "/." + BaseName(target) + ".";
    // A new file gets the usual mode less the umask; a replacement starts
    // private and takes the old file's bits once it is owned like the old one.
    const mode_t create_mode = old.exists ? 0600 : 0666;
    std::string temp;
    int raw = -1;
    for (int attempt = 0; attempt < kTempAttempts && raw < 0; ++attempt) {
        temp = stem + TempSuffix();
        raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, create_mode);
        if (raw < 0 && errno != EEXIST)
            return Fail(error, ErrnoText("cannot create a temporary file in", folder, errno));
    }
    if (raw < 0) return Fail(error, "cannot find a free temporary name in " + folder);
    UniqueFd fd(raw);

    const auto give_up = [&](const std::string& what) {
        const int err = errno;
        fd.Close();
        ::unlink(temp.c_str());
        return Fail(error, ErrnoText(what, temp, err));
    };
    if (old.exists) {
        // Only a privileged process may give the file back to another owner;
        // for anyone else the rewritten file is simply theirs.
        if (::fchown(fd.get(), old.info.st_uid, old.info.st_gid) != 0 && errno != EPERM)
            return give_up("cannot set the owner of");
        if (::fchmod(fd.get(), old.info.st_mode & 07777) != 0)
            return give_up("cannot set the permissions of");
    }
    if (!WriteAll(fd.get(), content)) return give_up("cannot write");
    if (::fsync(fd.get()) != 0) return give_up("cannot flush");
    if (fd.Close() != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return Fail(error, ErrnoText("cannot close", temp, err));
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return Fail(error, ErrnoText("cannot replace", target, err));
    }
    SyncFolder(folder);
    return true;
}

}  // namespace

std::string ReadIniValue(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view default_value) {
    section = Trim(section);
    key = Trim(key);
    Loaded file = LoadCapped(path);
    if (!file.exists || !file.error.empty() || section.empty() || key.empty())
        return std::string(default_value);
    if (file.truncated) {
        // The line the cap cut through is as absent as the rest.
        const auto newline = file.bytes.rfind('\n');
        file.bytes.resize(newline == std::string::npos ? 0 : newline + 1);
    }
    const std::string_view text = file.bytes;
    const std::vector<Line> lines = SplitLines(text, ContentStart(text));
    const Location at = Find(lines, section, key);
    if (!at.key) return std::string(default_value);

    std::string_view value = RawValue(text, lines[*at.key]);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(text::CutOnCharacter(value, kMaxValueBytes));
}

bool WriteIniValue(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value, std::string* error) {
    section = Trim(section);
    key = Trim(key);
    if (const auto refused = CheckArguments(section, key, value)) return Fail(error, *refused);

    std::string target;
    if (!ResolveTarget(path, target, error)) return false;
    const Loaded old = LoadCapped(target);
    if (!old.error.empty()) return Fail(error, old.error);
    if (old.exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        // The rename would get past a read-only file; its owner made it so
        // that it stays as it is.
        return Fail(error, ErrnoText("cannot write", target, errno));
    }
    if (old.truncated) {
        return Fail(error, target + " is bigger than " + std::to_string(kMaxFileBytes) +
                               " bytes and is left as it is");
    }
    const std::string content = Edit(old.bytes, section, key, value);
    if (old.exists && content == old.bytes) return true;
    return ReplaceFile(target, content, old, error);
}

}  // namespace pelko::ini
