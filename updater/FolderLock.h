#pragma once

// One updater at a time in a program folder: an exclusive lock on the
// folder itself, held while the updater runs and gone with the process,
// however it ends.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace pelko::updater {

class FolderLock {
  public:
    FolderLock() = default;
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock unless another process holds it; never waits.
    bool Lock(const std::string& folder) {
        if (fd_ >= 0) return true;
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        fd_ = fd;
        return true;
    }
    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace pelko::updater
