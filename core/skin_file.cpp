#include "core/skin_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "core/skin_error.h"
#include "core/unique_fd.h"

namespace pelko::skin {
namespace {

enum class Kind { Text, Color, Paint, Integer, Choice };
enum class Need { Required, Default, SameAs };

struct KeyRule {
    std::string_view name;
    Kind kind;
    Need need;
    // The default value's text (Default) or the key whose value is taken (SameAs).
    std::string_view fallback = {};
    int min = 0;
    int max = 0;
    // For Choice: the permitted words, separated by '|'.
    std::string_view choices = {};
};

// Every key a skin file may set. A SameAs key names a key listed before it.
constexpr KeyRule kKeys[] = {
    {"name", Kind::Text, Need::Required},
    {"author", Kind::Text, Need::Default, ""},
    {"border.color", Kind::Color, Need::Required},
    {"border.width", Kind::Integer, Need::Default, "1", 0, 6},
    {"corner.radius", Kind::Integer, Need::Default, "0", 0, 12},
    {"title.background", Kind::Paint, Need::Required},
    {"title.background.inactive", Kind::Paint, Need::SameAs, "title.background"},
    {"title.text", Kind::Color, Need::Required},
    {"title.text.inactive", Kind::Color, Need::SameAs, "title.text"},
    {"title.line", Kind::Color, Need::SameAs, "border.color"},
    {"title.height", Kind::Integer, Need::Default, "28", 20, 48},
    {"title.font.size", Kind::Integer, Need::Default, "13", 9, 20},
    {"title.font.weight", Kind::Choice, Need::Default, "bold", 0, 0, "normal|bold"},
    {"title.align", Kind::Choice, Need::Default, "left", 0, 0, "left|center"},
    {"title.icon", Kind::Choice, Need::Default, "no", 0, 0, "yes|no"},
    {"buttons.side", Kind::Choice, Need::Default, "right", 0, 0, "left|right"},
    {"button.size", Kind::Integer, Need::Default, "20", 12, 32},
    {"button.radius", Kind::Integer, Need::Default, "3", 0, 16},
    {"button.spacing", Kind::Integer, Need::Default, "2", 0, 12},
    {"button.border", Kind::Color, Need::SameAs, "border.color"},
    {"button.background", Kind::Paint, Need::Required},
    {"button.background.hover", Kind::Paint, Need::SameAs, "button.background"},
    {"button.background.pressed", Kind::Paint, Need::SameAs, "button.background.hover"},
    {"button.glyph", Kind::Color, Need::Required},
    {"minimize.background", Kind::Paint, Need::SameAs, "button.background"},
    {"maximize.background", Kind::Paint, Need::SameAs, "button.background"},
    {"close.background", Kind::Paint, Need::SameAs, "button.background"},
    {"close.background.hover", Kind::Paint, Need::SameAs, "button.background.hover"},
    {"close.glyph", Kind::Color, Need::SameAs, "button.glyph"},
    {"menubar.background", Kind::Paint, Need::Required},
    {"menubar.text", Kind::Color, Need::Required},
    {"menubar.line", Kind::Color, Need::SameAs, "border.color"},
    {"menu.background", Kind::Color, Need::Required},
    {"menu.text", Kind::Color, Need::Required},
    {"menu.border", Kind::Color, Need::SameAs, "border.color"},
    {"highlight.background", Kind::Paint, Need::Required},
    {"highlight.text", Kind::Color, Need::Required},
    {"client.background", Kind::Color, Need::Required},
    {"client.text", Kind::Color, Need::SameAs, "menu.text"},
};

const KeyRule* FindKey(std::string_view name) {
    for (const KeyRule& k : kKeys) {
        if (k.name == name) return &k;
    }
    return nullptr;
}

constexpr std::string_view kHeader = "pelko-skin 1";
constexpr std::string_view kHeaderWord = "pelko-skin";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kBeginCss = "begin css";
constexpr std::string_view kEndCss = "end css";
constexpr std::size_t kMaxTextChars = 64;
constexpr std::size_t kMaxStops = 4;

// Pieces of text by which a file would reach beyond its own styling.
constexpr std::array<std::string_view, 9> kOutsideMarks = {
    "url(",  "@import",   "image(", "-gtk-icontheme", "-gtk-scaled", "://",
    "file:", "resource:", "\\"};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool RefersOutside(std::string_view line) {
    const std::string lower = Lower(line);
    return std::any_of(kOutsideMarks.begin(), kOutsideMarks.end(), [&](std::string_view mark) {
        return lower.find(mark) != std::string::npos;
    });
}

// The number of characters, or nothing when the bytes are not UTF-8
// (overlong forms, surrogates and values beyond U+10FFFF included).
std::optional<std::size_t> Utf8Length(std::string_view s) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < s.size(); ++chars) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n;
        std::uint32_t cp;
        if (b < 0x80) {
            n = 1;
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            n = 2;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            n = 3;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            n = 4;
            cp = b & 0x07;
        } else {
            return std::nullopt;
        }
        if (i + n > s.size()) return std::nullopt;
        for (std::size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kSmallest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return std::nullopt;
        }
        i += n;
    }
    return chars;
}

std::string Quoted(std::string_view s) { return "“" + std::string(s) + "”"; }

class Reader {
  public:
    explicit Reader(const std::string& source) : source_(source) {}

    [[noreturn]] void Fail(int line, const std::string& what) const {
        throw SkinError::AtLine(source_, line, what);
    }

    Paint ParseColorValue(const KeyRule& key, std::string_view value, int line) const {
        const auto c = ParseHexColor(value);
        if (!c)
            Fail(line, Quoted(key.name) + "的值" + Quoted(value) + "不是颜色（应写成 #rrggbb）");
        return Paint{{*c}};
    }

    Paint ParsePaintValue(const KeyRule& key, std::string_view value, int line) const {
        if (auto c = ParseHexColor(value)) return Paint{{*c}};
        auto bad = [&]() {
            Fail(line, Quoted(key.name) + "的值" + Quoted(value) +
                           "不是颜色或渐变（应写成 #rrggbb 或 gradient(#rrggbb, #rrggbb)）");
        };
        constexpr std::string_view kOpen = "gradient(";
        if (value.substr(0, kOpen.size()) != kOpen || value.back() != ')') bad();
        std::string_view inside = value.substr(kOpen.size(), value.size() - kOpen.size() - 1);
        std::vector<std::string_view> parts;
        for (;;) {
            const auto comma = inside.find(',');
            parts.push_back(Trim(inside.substr(0, comma)));
            if (comma == std::string_view::npos) break;
            inside.remove_prefix(comma + 1);
        }
        Paint paint;
        if (!parts.empty() && (parts.front() == "down" || parts.front() == "right")) {
            paint.direction =
                parts.front() == "down" ? Paint::Direction::Down : Paint::Direction::Right;
            parts.erase(parts.begin());
        }
        if (parts.size() < 2 || parts.size() > kMaxStops) {
            Fail(line, Quoted(key.name) + "的渐变应有 2 到 4 个颜色");
        }
        for (std::string_view p : parts) {
            const auto c = ParseHexColor(p);
            if (!c) bad();
            paint.stops.push_back(*c);
        }
        return paint;
    }

    int ParseIntegerValue(const KeyRule& key, std::string_view value, int line) const {
        const bool digits =
            !value.empty() && value.size() <= 3 &&
            std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
        const int n = digits ? std::stoi(std::string(value)) : -1;
        if (!digits || n < key.min || n > key.max) {
            Fail(line, Quoted(key.name) + "应是 " + std::to_string(key.min) + " 到 " +
                           std::to_string(key.max) + " 之间的整数，而不是" + Quoted(value));
        }
        return n;
    }

    std::string ParseChoiceValue(const KeyRule& key, std::string_view value, int line) const {
        std::string_view rest = key.choices;
        for (;;) {
            const auto bar = rest.find('|');
            if (rest.substr(0, bar) == value) return std::string(value);
            if (bar == std::string_view::npos) break;
            rest.remove_prefix(bar + 1);
        }
        std::string list(key.choices);
        std::replace(list.begin(), list.end(), '|', '/');
        Fail(line, Quoted(key.name) + "应是 " + list + " 之一，而不是" + Quoted(value));
    }

    std::variant<std::string, Paint, int> ParseValue(const KeyRule& key, std::string_view value,
                                                     int line) const {
        switch (key.kind) {
            case Kind::Text: {
                const auto chars = Utf8Length(value);
                if (!chars || *chars > kMaxTextChars) {
                    Fail(line, Quoted(key.name) + "最多 64 个字符");
                }
                return std::string(value);
            }
            case Kind::Color:
                return ParseColorValue(key, value, line);
            case Kind::Paint:
                return ParsePaintValue(key, value, line);
            case Kind::Integer:
                return ParseIntegerValue(key, value, line);
            case Kind::Choice:
                return ParseChoiceValue(key, value, line);
        }
        throw std::logic_error("unknown kind of skin key");
    }

    // Faults of the bytes themselves, found before the line's meaning is read.
    void CheckLineBytes(std::string_view raw, int line) const {
        if (raw.find('\0') != std::string_view::npos) Fail(line, "含有空字符（NUL），文件已损坏");
        if (raw.size() > Skin::kMaxLineBytes) {
            Fail(line, "这一行太长（" + std::to_string(raw.size()) + " 字节，上限 " +
                           std::to_string(Skin::kMaxLineBytes) + " 字节）");
        }
        if (!Utf8Length(raw)) Fail(line, "不是有效的 UTF-8 文本，文件已损坏");
        for (char c : raw) {
            const auto u = static_cast<unsigned char>(c);
            if ((u < 0x20 && c != '\t') || u == 0x7F) Fail(line, "含有控制字符，文件已损坏");
        }
    }

  private:
    const std::string& source_;
};

}  // namespace

Skin Skin::Parse(std::string_view text, const std::string& source) {
    Reader reader(source);
    if (text.size() > kMaxFileBytes) {
        throw SkinError::InFile(source, "文件太大（" + std::to_string(text.size()) +
                                            " 字节，上限 " + std::to_string(kMaxFileBytes) +
                                            " 字节）");
    }
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());

    Skin skin;
    std::map<std::string_view, int> seen;  // key -> line
    bool header = false;
    int css_begin = 0;  // the line of "begin css" while inside the block
    bool css_done = false;
    std::size_t css_start = 0;

    int line = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        ++line;
        const auto nl = text.find('\n', pos);
        const std::size_t line_end = nl == std::string_view::npos ? text.size() : nl;
        std::string_view raw = text.substr(pos, line_end - pos);
        const std::size_t line_start = pos;
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        reader.CheckLineBytes(raw, line);
        const std::string_view t = Trim(raw);

        if (css_begin != 0) {
            if (t == kEndCss) {
                skin.css_ = CssFragment::Parse(text.substr(css_start, line_start - css_start),
                                               source, css_begin + 1);
                css_begin = 0;
                css_done = true;
            }
            continue;
        }
        if (t.empty() || t.front() == '#') continue;
        if (RefersOutside(t)) reader.Fail(line, "皮肤文件不得引用其他文件、图标或网址");
        if (!header) {
            if (t == kHeader) {
                header = true;
                continue;
            }
            if (t.substr(0, kHeaderWord.size()) == kHeaderWord) {
                reader.Fail(line, "不支持的皮肤文件版本" + Quoted(t) + "（本程序读取 " +
                                      std::string(kHeader) + "）");
            }
            reader.Fail(line, "不是皮肤文件：第一行应是" + Quoted(kHeader));
        }
        if (t == kBeginCss) {
            if (css_done) reader.Fail(line, "只能有一个 begin css 块");
            css_begin = line;
            css_start = pos;
            continue;
        }
        if (t == kEndCss) reader.Fail(line, "end css 之前没有 begin css");

        const auto eq = t.find('=');
        if (eq == std::string_view::npos) reader.Fail(line, "这一行应写成“键 = 值”");
        const std::string_view key_name = Trim(t.substr(0, eq));
        const std::string_view value = Trim(t.substr(eq + 1));
        const KeyRule* key = FindKey(key_name);
        if (key == nullptr) reader.Fail(line, "未知的设置项" + Quoted(key_name));
        if (const auto before = seen.find(key->name); before != seen.end()) {
            reader.Fail(line, "设置项" + Quoted(key_name) + "重复（第 " +
                                  std::to_string(before->second) + " 行已经设置过）");
        }
        if (value.empty() && key->kind != Kind::Text) {
            reader.Fail(line, "设置项" + Quoted(key_name) + "没有值");
        }
        seen.emplace(key->name, line);
        skin.values_.emplace(std::string(key->name), reader.ParseValue(*key, value, line));
    }

    if (css_begin != 0) reader.Fail(css_begin, "begin css 块没有以 end css 结束");
    if (!header) throw SkinError::InFile(source, "不是皮肤文件：缺少第一行" + Quoted(kHeader));

    auto settle = [&](const KeyRule& key) {
        if (skin.values_.count(key.name) != 0) return;
        switch (key.need) {
            case Need::Required:
                throw SkinError::InFile(source, "缺少必需的设置项" + Quoted(key.name));
            case Need::Default:
                skin.values_.emplace(std::string(key.name),
                                     reader.ParseValue(key, key.fallback, 0));
                break;
            case Need::SameAs:
                skin.values_.emplace(std::string(key.name),
                                     skin.values_.at(std::string(key.fallback)));
                break;
        }
    };
    for (const KeyRule& key : kKeys) settle(key);
    return skin;
}

Skin Skin::ReadFile(const std::string& path) {
    // Not blocking on open keeps a FIFO or a device from hanging the window:
    // such a file is refused below as no regular file.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) throw SkinError("找不到皮肤文件" + Quoted(path));
        throw SkinError("无法打开皮肤文件" + Quoted(path) + "：" + std::strerror(err));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        throw SkinError("无法读取皮肤文件" + Quoted(path) + "：" + std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) throw SkinError::InFile(path, "不是普通文件");
    if (static_cast<std::size_t>(st.st_size) > kMaxFileBytes) {
        throw SkinError::InFile(path, "文件太大（" + std::to_string(st.st_size) + " 字节，上限 " +
                                          std::to_string(kMaxFileBytes) + " 字节）");
    }
    // Read one byte beyond the limit, so that a file that grows while it is
    // read is still caught by the size check of the text.
    std::string text(kMaxFileBytes + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw SkinError("无法读取皮肤文件" + Quoted(path) + "：" + std::strerror(errno));
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return Parse(text, path);
}

const Skin::Value& Skin::Get(std::string_view key) const {
    const auto it = values_.find(key);
    if (it == values_.end()) throw std::logic_error("no skin key " + std::string(key));
    return it->second;
}

namespace {

Kind KindOf(std::string_view key) {
    const KeyRule* rule = FindKey(key);
    if (rule == nullptr) throw std::logic_error("no skin key " + std::string(key));
    return rule->kind;
}

void Expect(std::string_view key, Kind want) {
    if (KindOf(key) != want)
        throw std::logic_error("skin key " + std::string(key) + " is of another kind");
}

}  // namespace

const std::string& Skin::Text(std::string_view key) const {
    Expect(key, Kind::Text);
    return std::get<std::string>(Get(key));
}

Rgb Skin::Color(std::string_view key) const {
    Expect(key, Kind::Color);
    return std::get<Paint>(Get(key)).stops.front();
}

const Paint& Skin::PaintOf(std::string_view key) const {
    Expect(key, Kind::Paint);
    return std::get<Paint>(Get(key));
}

int Skin::Metric(std::string_view key) const {
    Expect(key, Kind::Integer);
    return std::get<int>(Get(key));
}

const std::string& Skin::Choice(std::string_view key) const {
    Expect(key, Kind::Choice);
    return std::get<std::string>(Get(key));
}

Skin Skin::Rotated(int degrees) const {
    Skin out = *this;
    for (auto& [name, value] : out.values_) {
        if (auto* paint = std::get_if<Paint>(&value)) {
            for (Rgb& stop : paint->stops) stop = RotateHue(stop, degrees);
        }
    }
    out.hue_ = (((hue_ + degrees) % 360) + 360) % 360;
    return out;
}

}  // namespace pelko::skin
