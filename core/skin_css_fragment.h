#pragma once

// The optional style rules of a skin file. They are a small, checked part of
// GTK CSS: every selector starts at one of the skinned window's own style
// classes (.skin-window, .skin-titlebar, ...), only colour, paint, border
// style and shadow properties may be set, every colour is written #rrggbb (so
// the hue can turn it), and nothing can name another file, an address, an
// icon or a global colour. Anything outside that is refused with its line.

#include <string>
#include <string_view>
#include <vector>

#include "core/skin_color.h"

namespace pelko::skin {

class CssFragment {
  public:
    // Reads the rules; first_line is the line of the skin file the text starts
    // on, so that a failure names the line of the file. Throws SkinError.
    static CssFragment Parse(std::string_view text, const std::string& source, int first_line);

    bool Empty() const { return rules_.empty(); }

    // The rules as GTK CSS: each compound selector that names a skin class
    // also requires the scope class (so the rules reach one skinned window and
    // nothing else), and every colour is turned by the given degrees.
    std::string Render(const std::string& scope, int degrees) const;

  private:
    struct Compound {
        std::string combinator;  // "", " " or " > " before this compound
        std::string text;        // the widget type and classes
        std::string states;      // the pseudo-classes, after the scope class
        bool scoped = false;     // names a skin class, so the scope class joins it
    };
    struct Value {
        enum class Kind { Color, Word, Open, Close, Comma };
        Kind kind;
        std::string text;  // the word, or the function's name for Open
        Rgb color;
    };
    struct Declaration {
        std::string property;
        std::vector<Value> values;
    };
    struct Rule {
        std::vector<std::vector<Compound>> selectors;
        std::vector<Declaration> declarations;
    };

    friend class CssFragmentParser;
    std::vector<Rule> rules_;
};

}  // namespace pelko::skin
