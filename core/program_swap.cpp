#include "core/program_swap.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/unique_fd.h"

namespace pelko::swap {

namespace {

std::string Failure(const std::string& what) { return what + ": " + std::strerror(errno); }

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::lstat(a.c_str(), &sa) == 0 && ::lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool IsTemporaryName(std::string_view entry, std::string_view base) {
    // "." + base + "." + six characters from mkstemp.
    if (entry.size() != base.size() + 8 || entry[0] != '.') return false;
    if (entry.substr(1, base.size()) != base || entry[base.size() + 1] != '.') return false;
    for (const char c : entry.substr(base.size() + 2)) {
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum) return false;
    }
    return true;
}

}  // namespace

std::string PreviousName(std::string_view name) { return std::string(name) + ".old"; }

std::string TemporaryTemplate(const std::string& folder, std::string_view name) {
    return folder + "/." + std::string(name) + ".XXXXXX";
}

bool IsTemporaryOf(std::string_view entry, std::string_view name) {
    return IsTemporaryName(entry, name) || IsTemporaryName(entry, PreviousName(name));
}

std::string SyncFolder(const std::string& folder) {
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return Failure("cannot open " + folder);
    // Some file systems cannot sync a folder and say so; they have nothing to sync.
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS) {
        return Failure("cannot sync " + folder);
    }
    return "";
}

std::string KeepPrevious(const std::string& folder, const std::string& name) {
    const std::string program = folder + "/" + name;
    const std::string previous = folder + "/" + PreviousName(name);
    struct stat st {};
    if (::lstat(program.c_str(), &st) != 0) {
        return errno == ENOENT ? "" : Failure("cannot read " + program);
    }
    // A second name of the program file itself: the program under its own
    // name is never touched here. An older previous file makes way first;
    // while it is gone, the program still stands.
    if (::unlink(previous.c_str()) != 0 && errno != ENOENT) {
        return Failure("cannot remove " + previous);
    }
    if (::link(program.c_str(), previous.c_str()) != 0) {
        if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK && errno != EXDEV) {
            return Failure("cannot keep " + program + " as " + previous);
        }
        return CopyPrevious(folder, name);
    }
    return SyncFolder(folder);
}

std::string CopyPrevious(const std::string& folder, const std::string& name) {
    const std::string program = folder + "/" + name;
    const std::string previous = folder + "/" + PreviousName(name);
    const UniqueFd in(::open(program.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return Failure("cannot read " + program);
    struct stat st {};
    if (::fstat(in.get(), &st) != 0) return Failure("cannot read " + program);
    std::string temporary = TemporaryTemplate(folder, PreviousName(name));
    const UniqueFd out(::mkostemp(temporary.data(), O_CLOEXEC));
    if (out.get() < 0) return Failure("cannot create a file in " + folder);
    auto fail = [&](const std::string& what) {
        const std::string text = Failure(what);
        ::unlink(temporary.c_str());
        return text;
    };
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(in.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return fail("cannot read " + program);
        if (got == 0) break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out.get(), buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put < 0) return fail("cannot write " + temporary);
            done += put;
        }
    }
    if (::fchmod(out.get(), st.st_mode & 0777) != 0) return fail("cannot chmod " + temporary);
    if (::fsync(out.get()) != 0) return fail("cannot sync " + temporary);
    if (::rename(temporary.c_str(), previous.c_str()) != 0) {
        return fail("cannot rename " + temporary);
    }
    return SyncFolder(folder);
}

std::string Promote(const std::string& temporary, const std::string& folder,
                    const std::string& name) {
    const std::string program = folder + "/" + name;
    if (::rename(temporary.c_str(), program.c_str()) != 0) {
        return Failure("cannot replace " + program);
    }
    return SyncFolder(folder);
}

std::string RestorePrevious(const std::string& folder, const std::string& name) {
    const std::string program = folder + "/" + name;
    const std::string previous = folder + "/" + PreviousName(name);
    if (::rename(previous.c_str(), program.c_str()) != 0) {
        return Failure("cannot put " + previous + " back");
    }
    return SyncFolder(folder);
}

std::string DiscardPrevious(const std::string& folder, const std::string& name) {
    const std::string previous = folder + "/" + PreviousName(name);
    if (::unlink(previous.c_str()) != 0 && errno != ENOENT) {
        return Failure("cannot remove " + previous);
    }
    return SyncFolder(folder);
}

bool HasPrevious(const std::string& folder, const std::string& name) {
    struct stat st {};
    return ::lstat((folder + "/" + PreviousName(name)).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void CleanUp(const std::string& folder, const std::string& name, bool previous_unneeded) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    bool removed = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (IsTemporaryOf(entry->d_name, name)) {
            removed |= ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0;
        }
    }
    ::closedir(dir);
    const std::string program = folder + "/" + name;
    const std::string previous = folder + "/" + PreviousName(name);
    struct stat st {};
    if (HasPrevious(folder, name) && ::lstat(program.c_str(), &st) != 0 && errno == ENOENT) {
        // A program file gone by other hands: the kept one is all there is.
        RestorePrevious(folder, name);
    } else if (HasPrevious(folder, name) && (previous_unneeded || SameFile(program, previous))) {
        removed |= ::unlink(previous.c_str()) == 0;
    }
    if (removed) SyncFolder(folder);
}

}  // namespace pelko::swap
