#pragma once

// The failure of every skin operation: a missing, unreadable, damaged or
// hostile skin file, or an operation asked of a control without a skin. Its
// text is the description the user reads in the failure message box.

#include <stdexcept>
#include <string>

namespace pelko::skin {

class SkinError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;

    // A fault of the file as a whole: "皮肤文件“path”：what".
    static SkinError InFile(const std::string& source, const std::string& what) {
        return SkinError("皮肤文件“" + source + "”：" + what);
    }
    // A fault of one line, lines counted from 1: "皮肤文件“path”第 N 行：what".
    static SkinError AtLine(const std::string& source, int line, const std::string& what) {
        return SkinError("皮肤文件“" + source + "”第 " + std::to_string(line) + " 行：" + what);
    }
};

}  // namespace pelko::skin
