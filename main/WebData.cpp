#include "main/WebData.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pelko {

namespace {

std::string Under(const char* base, const char* name) {
    gchar* path = g_build_filename(base, name, nullptr);
    std::string result = path;
    g_free(path);
    return result;
}

void Say(const std::string& text) { std::fprintf(stderr, "Pelko: %s\n", text.c_str()); }

// A folder the store can live in: made if missing, and proved writable by
// writing into it, which also catches a full disk.
std::string CheckFolder(const std::string& folder) {
    if (g_mkdir_with_parents(folder.c_str(), 0700) != 0) {
        return folder + ": " + std::strerror(errno);
    }
    std::string probe = folder + "/.probe-XXXXXX";
    const int fd = g_mkstemp(probe.data());
    if (fd < 0) return folder + ": " + std::strerror(errno);
    const bool written = ::write(fd, "x", 1) == 1 && ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    ::unlink(probe.c_str());
    if (!written) return folder + ": " + std::strerror(error);
    return {};
}

}  // namespace

std::string WebData::DataFolder() { return Under(g_get_user_data_dir(), "pelko"); }

std::string WebData::CacheFolder() { return Under(g_get_user_cache_dir(), "pelko"); }

std::string SetAsideDamagedDatabase(const std::string& path) {
    if (!g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) return {};
    std::string problem;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        problem = db != nullptr ? sqlite3_errmsg(db) : "cannot be opened";
    } else {
        sqlite3_stmt* check = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &check, nullptr) != SQLITE_OK) {
            problem = sqlite3_errmsg(db);
        } else if (sqlite3_step(check) != SQLITE_ROW) {
            problem = sqlite3_errmsg(db);
        } else {
            const auto* verdict = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
            if (verdict == nullptr || std::strcmp(verdict, "ok") != 0) {
                problem = verdict != nullptr ? verdict : "damaged";
            }
        }
        sqlite3_finalize(check);
    }
    sqlite3_close(db);
    if (problem.empty()) return {};

    // The journal files belong to the damaged database and would be replayed
    // into the fresh one: they go aside with it.
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const std::string from = path + suffix;
        if (!g_file_test(from.c_str(), G_FILE_TEST_EXISTS)) continue;
        const std::string to = path + ".damaged" + suffix;
        if (g_rename(from.c_str(), to.c_str()) != 0 && *suffix == '\0') {
            return path + " is damaged (" + problem + ") and cannot be moved aside: " +
                   std::strerror(errno);
        }
    }
    return path + " is damaged (" + problem + "); it is kept as " + path +
           ".damaged and a fresh one begins";
}

WebData::WebData() {
    const std::string data = DataFolder();
    const std::string cache = CacheFolder();
    if (!Open(data, cache)) {
        Say("sign-ins and page data are kept in memory for this run only");
    }
}

bool WebData::Open(const std::string& data, const std::string& cache) {
    for (const auto& folder : {data, cache}) {
        const std::string problem = CheckFolder(folder);
        if (!problem.empty()) {
            Say("the web data folder cannot be used: " + problem);
            return false;
        }
    }
    // Two browsers on one store corrupt it. The desktop hands a second start
    // to the first, so this only bites when that hand-over is not there.
    const std::string lock = data + "/lock";
    lock_fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_fd_ < 0) {
        Say("the web data folder cannot be used: " + lock + ": " + std::strerror(errno));
        return false;
    }
    if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
        Say("another Pelko is using " + data);
        ::close(lock_fd_);
        lock_fd_ = -1;
        return false;
    }
    const std::string cookies = data + "/" + kCookieFile;
    const std::string damaged = SetAsideDamagedDatabase(cookies);
    if (!damaged.empty()) Say(damaged);
    if (g_file_test(cookies.c_str(), G_FILE_TEST_EXISTS) &&
        !g_file_test(cookies.c_str(), G_FILE_TEST_IS_REGULAR)) {
        Say(cookies + " is not a file");
        return false;
    }
    data_ = data;
    cache_ = cache;
    cookie_file_ = cookies;
    return true;
}

WebData::~WebData() {
    if (lock_fd_ >= 0) ::close(lock_fd_);
}

WebKitWebsiteDataManager* WebData::NewManager() const {
    if (!Persistent()) return webkit_website_data_manager_new_ephemeral();
    return webkit_website_data_manager_new("base-data-directory", data_.c_str(),
                                           "base-cache-directory", cache_.c_str(), nullptr);
}

}  // namespace pelko
