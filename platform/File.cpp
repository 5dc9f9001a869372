#include "platform/File.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace qv {

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      position_(std::exchange(other.position_, 0)),
      lastError_(other.lastError_) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        position_ = std::exchange(other.position_, 0);
        lastError_ = other.lastError_;
    }
    return *this;
}

bool File::OpenRead(const std::string& path, Access access) {
    Close();
    // O_NONBLOCK keeps open() from waiting for a writer when the name is a FIFO.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        lastError_ = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        lastError_ = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return false;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    ::posix_fadvise(fd, 0, 0,
                    access == Access::Sequential ? POSIX_FADV_SEQUENTIAL : POSIX_FADV_RANDOM);
    fd_ = fd;
    position_ = 0;
    lastError_ = 0;
    return true;
}

void File::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    position_ = 0;
}

int64_t File::Size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        return -1;
    }
    return st.st_size;
}

bool File::Seek(int64_t position) {
    if (fd_ < 0 || position < 0) {
        lastError_ = fd_ < 0 ? EBADF : EINVAL;
        return false;
    }
    position_ = position;
    return true;
}

int64_t File::Read(void* buffer, int64_t count) {
    int64_t n = ReadAt(position_, buffer, count);
    if (n > 0) {
        position_ += n;
    }
    return n;
}

int64_t File::ReadAt(int64_t position, void* buffer, int64_t count) {
    if (fd_ < 0 || position < 0 || count < 0) {
        lastError_ = fd_ < 0 ? EBADF : EINVAL;
        return -1;
    }
    auto* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(fd_, out + done, static_cast<size_t>(count - done),
                            static_cast<off_t>(position + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            lastError_ = errno;
            return done > 0 ? done : -1;
        }
        if (n == 0) {
            break;  // end of file
        }
        done += n;
    }
    return done;
}

}  // namespace qv
