#pragma once

// Where the browser keeps what the service's pages leave behind: cookies,
// local storage, IndexedDB, service workers and the HTTP cache. It lives
// under the user's XDG folders, never in the program folder, which an update
// replaces and which may be read-only.
//
// Opening the store never stops the program. A damaged cookie database is
// moved aside and a fresh one begins; a folder that cannot be written, or a
// store another running Pelko already holds, gives a store kept in memory
// for this run only. Each of these says why on stderr.

#include <webkit2/webkit2.h>

#include <string>

namespace pelko {

class WebData {
public:
    // The folders under the user's data and cache homes (with the usual
    // fallbacks, ~/.local/share and ~/.cache).
    static std::string DataFolder();
    static std::string CacheFolder();
    static constexpr const char* kCookieFile = "cookies.sqlite";

    WebData();
    ~WebData();
    WebData(const WebData&) = delete;
    WebData& operator=(const WebData&) = delete;

    // A new reference to the website data manager of this store.
    WebKitWebsiteDataManager* NewManager() const;
    // The cookie database to hand to the cookie manager; empty for a store
    // kept in memory.
    const std::string& CookieFile() const { return cookie_file_; }
    bool Persistent() const { return !cookie_file_.empty(); }

private:
    bool Open(const std::string& data, const std::string& cache);

    int lock_fd_ = -1;
    std::string data_;
    std::string cache_;
    std::string cookie_file_;
};

// Moves a cookie database aside when it is not a sound SQLite database, so
// that the cookie store starts afresh instead of failing on it. Returns a
// description of what was wrong, or an empty text when the file is fine or
// absent. The damaged file is kept beside it as "<name>.damaged".
std::string SetAsideDamagedDatabase(const std::string& path);

}  // namespace pelko
