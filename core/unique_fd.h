#pragma once

// A file descriptor that is closed when it goes out of scope.

#include <unistd.h>

namespace pelko {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    // Closes now and reports the result, since a late write error can surface here.
    int Close() {
        const int fd = fd_;
        fd_ = -1;
        return fd >= 0 ? ::close(fd) : 0;
    }

  private:
    int fd_;
};

}  // namespace pelko
