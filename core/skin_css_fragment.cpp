#include "core/skin_css_fragment.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "core/skin_error.h"

namespace pelko::skin {
namespace {

// The skinned window's own style classes: the only places a rule may start.
constexpr std::array<std::string_view, 10> kSkinClasses = {
    "skin-window",   "skin-titlebar", "skin-caption", "skin-icon",    "skin-button",
    "skin-minimize", "skin-maximize", "skin-close",   "skin-menubar", "skin-menu"};

// Widgets that can stand inside a skinned part of the window.
constexpr std::array<std::string_view, 12> kTypes = {"label",     "button", "image",   "box",
                                                     "menuitem",  "menu",   "menubar", "arrow",
                                                     "separator", "check",  "radio",   "entry"};

constexpr std::array<std::string_view, 7> kPseudoClasses = {
    "hover", "active", "backdrop", "disabled", "checked", "first-child", "last-child"};

// Colours, paints, border styles and shadows: nothing that changes a size, so
// a skin cannot move the client area, and nothing that loads anything.
constexpr std::array<std::string_view, 20> kProperties = {"color",
                                                          "background-color",
                                                          "background-image",
                                                          "border-color",
                                                          "border-top-color",
                                                          "border-right-color",
                                                          "border-bottom-color",
                                                          "border-left-color",
                                                          "border-style",
                                                          "border-radius",
                                                          "border-top-left-radius",
                                                          "border-top-right-radius",
                                                          "border-bottom-left-radius",
                                                          "border-bottom-right-radius",
                                                          "box-shadow",
                                                          "text-shadow",
                                                          "-gtk-icon-shadow",
                                                          "outline-color",
                                                          "font-weight",
                                                          "font-style"};

constexpr std::array<std::string_view, 9> kFunctions = {"linear-gradient",
                                                        "radial-gradient",
                                                        "repeating-linear-gradient",
                                                        "repeating-radial-gradient",
                                                        "alpha",
                                                        "shade",
                                                        "mix",
                                                        "lighter",
                                                        "darker"};

// Functions that would fetch a file, an icon or an address.
constexpr std::array<std::string_view, 7> kOutsideFunctions = {
    "url",          "image",      "-gtk-icontheme",   "-gtk-scaled",
    "-gtk-recolor", "cross-fade", "-webkit-image-set"};

constexpr std::array<std::string_view, 30> kKeywords = {
    "none",    "transparent", "currentColor", "to",           "top",           "bottom",
    "left",    "right",       "center",       "at",           "inset",         "solid",
    "dashed",  "dotted",      "double",       "groove",       "ridge",         "outset",
    "hidden",  "normal",      "bold",         "bolder",       "lighter",       "italic",
    "oblique", "circle",      "ellipse",      "closest-side", "farthest-side", "farthest-corner"};

constexpr std::array<std::string_view, 6> kUnits = {"", "px", "%", "deg", "em", "pt"};

constexpr double kLargestNumber = 1000;
constexpr int kDeepestNesting = 4;

template <std::size_t N>
bool In(const std::array<std::string_view, N>& set, std::string_view s) {
    return std::find(set.begin(), set.end(), s) != set.end();
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameChar(char c) { return IsLetter(c) || IsDigit(c) || c == '-'; }

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

enum class Tok { Ident, Function, Hash, Number, Delim, Space, End };

struct Token {
    Tok kind;
    std::string text;
    int line;
};

}  // namespace

// Turns the text into tokens, then the tokens into rules; every refusal names
// the line of the skin file.
class CssFragmentParser {
  public:
    CssFragmentParser(std::string_view text, const std::string& source, int first_line)
        : text_(text), source_(source), line_(first_line) {}

    CssFragment Run() {
        Lex();
        CssFragment out;
        SkipSpace();
        while (Peek().kind != Tok::End) {
            CssFragment::Rule rule;
            rule.selectors = Selectors();
            rule.declarations = Declarations();
            out.rules_.push_back(std::move(rule));
            SkipSpace();
        }
        return out;
    }

  private:
    [[noreturn]] void Fail(int line, const std::string& what) const {
        throw SkinError::AtLine(source_, line, what);
    }

    void Lex() {
        std::size_t i = 0;
        while (i < text_.size()) {
            const char c = text_[i];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                const int at = line_;
                while (i < text_.size() && (text_[i] == ' ' || text_[i] == '\t' ||
                                            text_[i] == '\n' || text_[i] == '\r')) {
                    if (text_[i] == '\n') ++line_;
                    ++i;
                }
                Push(Tok::Space, " ", at);
            } else if (c == '/' && i + 1 < text_.size() && text_[i + 1] == '*') {
                const int at = line_;
                const auto end = text_.find("*/", i + 2);
                if (end == std::string_view::npos) Fail(at, "注释没有结束（缺少 */）");
                line_ += static_cast<int>(std::count(text_.begin() + i, text_.begin() + end, '\n'));
                i = end + 2;
                Push(Tok::Space, " ", at);
            } else if (IsDigit(c) || ((c == '-' || c == '+' || c == '.') && i + 1 < text_.size() &&
                                      (IsDigit(text_[i + 1]) || text_[i + 1] == '.'))) {
                const std::size_t start = i;
                ++i;
                while (i < text_.size() && (IsDigit(text_[i]) || text_[i] == '.')) ++i;
                while (i < text_.size() && (IsNameChar(text_[i]) || text_[i] == '%')) ++i;
                Push(Tok::Number, std::string(text_.substr(start, i - start)), line_);
            } else if (IsLetter(c) || c == '-') {
                const std::size_t start = i;
                while (i < text_.size() && IsNameChar(text_[i])) ++i;
                std::string name(text_.substr(start, i - start));
                if (i < text_.size() && text_[i] == '(') {
                    ++i;
                    if (In(kOutsideFunctions, name)) {
                        Fail(line_, "皮肤文件不得引用其他文件、图标或网址（" + name + "()）");
                    }
                    Push(Tok::Function, std::move(name), line_);
                } else {
                    Push(Tok::Ident, std::move(name), line_);
                }
            } else if (c == '#') {
                const std::size_t start = i;
                ++i;
                while (i < text_.size() && IsNameChar(text_[i])) ++i;
                Push(Tok::Hash, std::string(text_.substr(start, i - start)), line_);
            } else if (c == '@') {
                if (Lower(text_.substr(i + 1, 6)) == "import") {
                    Fail(line_, "皮肤文件不得引用其他文件、图标或网址（@import）");
                }
                Fail(line_, "样式中不允许 @ 规则（@import、@define-color 等）");
            } else if (c == '"' || c == '\'') {
                Fail(line_, "样式中不允许字符串");
            } else if (c == '\\') {
                Fail(line_, "样式中不允许转义字符");
            } else if (std::string_view("{}:;,.>()").find(c) != std::string_view::npos) {
                Push(Tok::Delim, std::string(1, c), line_);
                ++i;
            } else {
                Fail(line_, std::string("样式中不允许字符“") + Printable(c) + "”");
            }
        }
        Push(Tok::End, "", line_);
    }

    static std::string Printable(char c) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
            static constexpr char kDigits[] = "0123456789ABCDEF";
            const auto u = static_cast<unsigned char>(c);
            return std::string("\\x") + kDigits[u >> 4] + kDigits[u & 0xF];
        }
        return std::string(1, c);
    }

    void Push(Tok kind, std::string text, int line) {
        tokens_.push_back({kind, std::move(text), line});
    }

    const Token& Peek() const { return tokens_[pos_]; }
    const Token& Take() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }
    bool IsDelim(const Token& t, char c) const { return t.kind == Tok::Delim && t.text[0] == c; }
    void SkipSpace() {
        while (Peek().kind == Tok::Space) ++pos_;
    }

    std::vector<std::vector<CssFragment::Compound>> Selectors() {
        std::vector<std::vector<CssFragment::Compound>> all;
        std::vector<CssFragment::Compound> current;
        std::string combinator;
        const int rule_line = Peek().line;
        auto finish = [&](const Token& at) {
            if (current.empty() || combinator == " > ") Fail(at.line, "选择器不完整");
            if (!current.front().scoped) {
                Fail(at.line,
                     "选择器必须从皮肤自己的类开始（.skin-window、.skin-titlebar、.skin-menubar "
                     "等）");
            }
            all.push_back(std::move(current));
            current.clear();
            combinator.clear();
        };
        for (;;) {
            const Token& t = Peek();
            if (t.kind == Tok::Space) {
                ++pos_;
                if (!current.empty() && combinator.empty()) combinator = " ";
            } else if (IsDelim(t, '>')) {
                if (current.empty()) Fail(t.line, "选择器不能以“>”开始");
                ++pos_;
                combinator = " > ";
            } else if (IsDelim(t, ',')) {
                finish(t);
                ++pos_;
            } else if (IsDelim(t, '{')) {
                finish(t);
                ++pos_;
                return all;
            } else if (t.kind == Tok::Ident || IsDelim(t, '.') || IsDelim(t, ':')) {
                CssFragment::Compound compound = ParseCompound();
                compound.combinator = current.empty() ? "" : combinator;
                current.push_back(std::move(compound));
                combinator.clear();
            } else if (t.kind == Tok::Hash) {
                Fail(t.line, "不允许 #id 选择器");
            } else if (t.kind == Tok::End) {
                Fail(rule_line, "样式规则缺少“{”");
            } else {
                Fail(t.line, "选择器中不允许“" + t.text + "”");
            }
        }
    }

    CssFragment::Compound ParseCompound() {
        CssFragment::Compound c;
        bool named = false;
        const int line = Peek().line;
        if (Peek().kind == Tok::Ident) {
            const Token& t = Take();
            if (!In(kTypes, t.text)) Fail(t.line, "选择器中不允许部件类型“" + t.text + "”");
            c.text = t.text;
            named = true;
        }
        for (;;) {
            if (IsDelim(Peek(), '.')) {
                ++pos_;
                const Token& t = Take();
                if (t.kind != Tok::Ident || !In(kSkinClasses, t.text)) {
                    Fail(t.line,
                         "选择器只能使用皮肤自己的类（.skin-…），不能使用“." + t.text + "”");
                }
                c.text += "." + t.text;
                c.scoped = true;
                named = true;
            } else if (IsDelim(Peek(), ':')) {
                ++pos_;
                const Token& t = Take();
                if (t.kind != Tok::Ident || !In(kPseudoClasses, t.text)) {
                    Fail(t.line, "选择器中不允许伪类“:" + t.text + "”");
                }
                c.states += ":" + t.text;
            } else {
                break;
            }
        }
        if (!named) Fail(line, "选择器的每一部分都要有部件类型或皮肤类");
        return c;
    }

    std::vector<CssFragment::Declaration> Declarations() {
        std::vector<CssFragment::Declaration> all;
        for (;;) {
            SkipSpace();
            const Token& t = Peek();
            if (IsDelim(t, '}')) {
                ++pos_;
                return all;
            }
            if (IsDelim(t, ';')) {
                ++pos_;
                continue;
            }
            if (t.kind == Tok::End) Fail(t.line, "样式规则缺少“}”");
            if (t.kind != Tok::Ident) Fail(t.line, "这里应是属性名，而不是“" + t.text + "”");
            if (!In(kProperties, t.text)) Fail(t.line, "不允许的样式属性“" + t.text + "”");
            CssFragment::Declaration d;
            d.property = t.text;
            ++pos_;
            SkipSpace();
            if (!IsDelim(Peek(), ':')) Fail(Peek().line, "属性“" + d.property + "”后缺少“:”");
            ++pos_;
            d.values = Values(t.line);
            all.push_back(std::move(d));
        }
    }

    std::vector<CssFragment::Value> Values(int property_line) {
        using Kind = CssFragment::Value::Kind;
        std::vector<CssFragment::Value> values;
        int depth = 0;
        for (;;) {
            const Token& t = Peek();
            if (t.kind == Tok::Space) {
                ++pos_;
            } else if (t.kind == Tok::Hash) {
                const auto color = ParseHexColor(t.text);
                if (!color) Fail(t.line, "颜色“" + t.text + "”必须写成 #rrggbb");
                values.push_back({Kind::Color, "", *color});
                ++pos_;
            } else if (t.kind == Tok::Number) {
                CheckNumber(t);
                values.push_back({Kind::Word, t.text, {}});
                ++pos_;
            } else if (t.kind == Tok::Ident) {
                if (!In(kKeywords, t.text)) Fail(t.line, "样式中不允许的词“" + t.text + "”");
                values.push_back({Kind::Word, t.text, {}});
                ++pos_;
            } else if (t.kind == Tok::Function) {
                if (t.text == "rgb" || t.text == "rgba" || t.text == "hsl" || t.text == "hsla") {
                    Fail(t.line, "颜色必须写成 #rrggbb，而不是 " + t.text + "()");
                }
                if (!In(kFunctions, t.text)) Fail(t.line, "样式中不允许函数“" + t.text + "()”");
                if (++depth > kDeepestNesting) Fail(t.line, "函数嵌套太深");
                values.push_back({Kind::Open, t.text, {}});
                ++pos_;
            } else if (IsDelim(t, ')')) {
                if (depth == 0) Fail(t.line, "多余的“)”");
                --depth;
                values.push_back({Kind::Close, "", {}});
                ++pos_;
            } else if (IsDelim(t, ',')) {
                values.push_back({Kind::Comma, "", {}});
                ++pos_;
            } else if (IsDelim(t, ';') || IsDelim(t, '}') || t.kind == Tok::End) {
                if (depth != 0) Fail(t.line, "缺少“)”");
                if (values.empty()) Fail(property_line, "属性没有值");
                if (IsDelim(t, ';')) ++pos_;
                return values;
            } else {
                Fail(t.line, "属性值中不允许“" + t.text + "”");
            }
        }
    }

    void CheckNumber(const Token& t) const {
        std::size_t digits = 0;
        if (t.text[0] == '+' || t.text[0] == '-') ++digits;
        while (digits < t.text.size() && (IsDigit(t.text[digits]) || t.text[digits] == '.')) {
            ++digits;
        }
        const std::string number = t.text.substr(0, digits);
        const std::string unit = t.text.substr(digits);
        if (std::count(number.begin(), number.end(), '.') > 1)
            Fail(t.line, "数字“" + t.text + "”有误");
        if (!In(kUnits, unit)) Fail(t.line, "不允许的单位“" + unit + "”");
        if (std::abs(std::strtod(number.c_str(), nullptr)) > kLargestNumber) {
            Fail(t.line, "数字“" + t.text + "”太大");
        }
    }

    std::string_view text_;
    const std::string& source_;
    int line_;
    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
};

CssFragment CssFragment::Parse(std::string_view text, const std::string& source, int first_line) {
    return CssFragmentParser(text, source, first_line).Run();
}

std::string CssFragment::Render(const std::string& scope, int degrees) const {
    std::string out;
    for (const Rule& rule : rules_) {
        bool first_selector = true;
        for (const auto& selector : rule.selectors) {
            if (!first_selector) out += ",\n";
            first_selector = false;
            for (const Compound& c : selector) {
                out += c.combinator + c.text;
                if (c.scoped) out += "." + scope;
                out += c.states;
            }
        }
        out += " {\n";
        for (const Declaration& d : rule.declarations) {
            out += "  " + d.property + ":";
            // A blank separates two words; none follows an opening parenthesis
            // or precedes a closing one or a comma.
            bool need_blank = true;
            for (const Value& v : d.values) {
                switch (v.kind) {
                    case Value::Kind::Color:
                        out += (need_blank ? " " : "") + ToHex(RotateHue(v.color, degrees));
                        need_blank = true;
                        break;
                    case Value::Kind::Word:
                        out += (need_blank ? " " : "") + v.text;
                        need_blank = true;
                        break;
                    case Value::Kind::Open:
                        out += (need_blank ? " " : "") + v.text + "(";
                        need_blank = false;
                        break;
                    case Value::Kind::Close:
                        out += ")";
                        need_blank = true;
                        break;
                    case Value::Kind::Comma:
                        out += ",";
                        need_blank = true;
                        break;
                }
            }
            out += ";\n";
        }
        out += "}\n";
    }
    return out;
}

}  // namespace pelko::skin
