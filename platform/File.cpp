#include "platform/File.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <climits>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/FileSystem.h"

#include <utility>

namespace qv {

namespace {

// The test hook's say on one system call that moves bytes: whether it fails before
// moving any (interrupted, or the call chosen to fail), and how many bytes of n it
// may move.
bool Interrupted() {
    WriteFaults* faults = CurrentWriteFaults();
    if (faults == nullptr) {
        return false;
    }
    const int64_t call = faults->calls++;
    if (call == faults->failCallAt) {
        errno = faults->failCallError;
        return true;
    }
    if (faults->interruptEvery <= 0 || (call + 1) % faults->interruptEvery != 0) {
        return false;
    }
    errno = EINTR;
    return true;
}

size_t Capped(size_t n) {
    WriteFaults* faults = CurrentWriteFaults();
    return faults != nullptr && faults->bytesPerCall > 0
               ? std::min(n, static_cast<size_t>(faults->bytesPerCall))
               : n;
}

// iov cut to the bytes a call may move; count receives how many vectors remain.
std::vector<iovec> CappedVectors(const iovec* iov, int* count) {
    std::vector<iovec> cut(iov, iov + *count);
    size_t left = Capped(SIZE_MAX);
    int kept = 0;
    for (iovec& v : cut) {
        if (left == 0) {
            break;
        }
        v.iov_len = std::min(v.iov_len, left);
        left -= v.iov_len;
        ++kept;
    }
    *count = std::max(kept, 1);
    return cut;
}

ssize_t SysPread(int fd, void* buffer, size_t n, off_t at) {
    return Interrupted() ? -1 : ::pread(fd, buffer, Capped(n), at);
}

ssize_t SysPwrite(int fd, const void* data, size_t n, off_t at) {
    return Interrupted() ? -1 : ::pwrite(fd, data, Capped(n), at);
}

ssize_t SysPreadv(int fd, const iovec* iov, int count, off_t at) {
    if (CurrentWriteFaults() == nullptr) {
        return ::preadv(fd, iov, count, at);
    }
    if (Interrupted()) {
        return -1;
    }
    const std::vector<iovec> cut = CappedVectors(iov, &count);
    return ::preadv(fd, cut.data(), count, at);
}

ssize_t SysPwritev(int fd, const iovec* iov, int count, off_t at) {
    if (CurrentWriteFaults() == nullptr) {
        return ::pwritev(fd, iov, count, at);
    }
    if (Interrupted()) {
        return -1;
    }
    const std::vector<iovec> cut = CappedVectors(iov, &count);
    return ::pwritev(fd, cut.data(), count, at);
}

ssize_t SysCopyFileRange(int in, loff_t* inAt, int out, loff_t* outAt, size_t n) {
    return Interrupted() ? -1 : ::copy_file_range(in, inAt, out, outAt, Capped(n), 0);
}

}  // namespace

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      position_(std::exchange(other.position_, 0)),
      lastError_(other.lastError_),
      readError_(std::exchange(other.readError_, 0)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        position_ = std::exchange(other.position_, 0);
        lastError_ = other.lastError_;
        readError_ = std::exchange(other.readError_, 0);
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
    if (::fstat(fd, &st) != 0) {
        lastError_ = errno;
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
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
    readError_ = 0;
    return true;
}

bool File::CreateNew(const std::string& path) {
    Close();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        lastError_ = errno;
        return false;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    fd_ = fd;
    position_ = 0;
    lastError_ = 0;
    readError_ = 0;
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

namespace {

// The fault hook's verdict on the next read: whether it fails.
bool FaultedRead() {
    WriteFaults* faults = CurrentWriteFaults();
    return faults != nullptr && faults->reads++ == faults->failReadAt;
}

}  // namespace

int64_t File::ReadAt(int64_t position, void* buffer, int64_t count) {
    if (fd_ < 0 || position < 0 || count < 0) {
        lastError_ = fd_ < 0 ? EBADF : EINVAL;
        return -1;
    }
    if (FaultedRead()) {
        ReadFailed(EIO);
        return -1;
    }
    auto* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        ssize_t n = SysPread(fd_, out + done, static_cast<size_t>(count - done),
                             static_cast<off_t>(position + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ReadFailed(errno);
            return done > 0 ? done : -1;
        }
        if (n == 0) {
            break;  // end of file
        }
        done += n;
    }
    return done;
}

int64_t File::ReadAt(int64_t position, void* head, int64_t headSize, void* buffer,
                     int64_t count) {
    if (fd_ < 0 || position < 0 || headSize < 0 || count < 0) {
        lastError_ = fd_ < 0 ? EBADF : EINVAL;
        return -1;
    }
    if (FaultedRead()) {
        ReadFailed(EIO);
        return -1;
    }
    iovec iov[2] = {{head, static_cast<size_t>(headSize)}, {buffer, static_cast<size_t>(count)}};
    ssize_t n;
    do {
        n = SysPreadv(fd_, iov, 2, static_cast<off_t>(position));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        ReadFailed(errno);
        return -1;
    }
    // A short read (a signal, the end of the file) goes on part by part.
    int64_t done = n;
    if (done < headSize) {
        const int64_t more =
            ReadAt(position + done, static_cast<char*>(head) + done, headSize - done);
        if (more <= 0) {
            return done;
        }
        done += more;
        if (done < headSize) {
            return done;
        }
    }
    if (done < headSize + count) {
        const int64_t into = done - headSize;
        const int64_t more =
            ReadAt(position + done, static_cast<char*>(buffer) + into, count - into);
        if (more > 0) {
            done += more;
        }
    }
    return done;
}

namespace {

// The fault hook's verdict on the next write of count bytes: the bytes to let
// through, or -1 for an error.
int64_t FaultedWriteSize(int64_t count) {
    WriteFaults* faults = CurrentWriteFaults();
    if (faults == nullptr) {
        return count;
    }
    const int64_t n = faults->writes++;
    if (faults->failing || n == faults->failWriteAt) {
        faults->failing = faults->failAllWritesAfter;
        errno = ENOSPC;
        return -1;
    }
    if (n == faults->shortWriteAt) {
        faults->failing = faults->failAllWritesAfter;
        return count / 2;
    }
    return count;
}

}  // namespace

int64_t File::WriteAt(int64_t position, const void* buffer, int64_t count) {
    Part part{buffer, count};
    return WriteAt(position, &part, 1);
}

int64_t File::WriteAt(int64_t position, const Part* parts, int count) {
    if (fd_ < 0 || position < 0 || count < 0 || count > IOV_MAX) {
        lastError_ = fd_ < 0 ? EBADF : EINVAL;
        return -1;
    }
    std::vector<iovec> iov;
    int64_t total = 0;
    for (int i = 0; i < count; ++i) {
        if (parts[i].size < 0) {
            lastError_ = EINVAL;
            return -1;
        }
        iov.push_back({const_cast<void*>(parts[i].data), static_cast<size_t>(parts[i].size)});
        total += parts[i].size;
    }
    const int64_t allowed = FaultedWriteSize(total);
    if (allowed < 0) {
        lastError_ = errno;
        return -1;
    }
    int64_t done = 0;
    if (allowed == total) {
        // Usually one call writes everything.
        ssize_t n = SysPwritev(fd_, iov.data(), count, static_cast<off_t>(position));
        done = n > 0 ? n : 0;
    }
    // What is left goes part by part.
    int64_t partStart = 0;
    for (const iovec& v : iov) {
        const int64_t partEnd = partStart + static_cast<int64_t>(v.iov_len);
        while (done < std::min(partEnd, allowed)) {
            const int64_t want = std::min(partEnd, allowed) - done;
            ssize_t n = SysPwrite(fd_, static_cast<const char*>(v.iov_base) + (done - partStart),
                                  static_cast<size_t>(want), static_cast<off_t>(position + done));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                lastError_ = n < 0 ? errno : ENOSPC;
                return done > 0 ? done : -1;
            }
            done += n;
        }
        partStart = partEnd;
    }
    if (done < total) {
        lastError_ = ENOSPC;
    }
    return done;
}

namespace {

// Errors of copy_file_range that only say it cannot copy between these two files.
bool CopyUnsupported(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
           error == EBADF || error == ETXTBSY || error == EIO;
}

}  // namespace

// The chunk was counted once by the fault injection: these writes are not.
int64_t File::WriteUncounted(int64_t position, const void* data, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        ssize_t n = SysPwrite(fd_, static_cast<const char*>(data) + done,
                              static_cast<size_t>(count - done), static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            lastError_ = n < 0 ? errno : ENOSPC;
            return done > 0 ? done : -1;
        }
        done += n;
    }
    return done;
}

int64_t File::WriteAtCopying(int64_t position, const Part& head, File& source,
                             int64_t sourcePosition, int64_t count, const Part& tail,
                             bool* sourceFailed) {
    *sourceFailed = false;
    if (fd_ < 0 || source.fd_ < 0 || position < 0 || sourcePosition < 0 || count < 0 ||
        head.size < 0 || tail.size < 0) {
        lastError_ = fd_ < 0 ? EBADF : EINVAL;
        return -1;
    }
    const int64_t total = head.size + count + tail.size;
    // One chunk is one write, as for WriteAt, whatever the calls below.
    const int64_t allowed = FaultedWriteSize(total);
    if (allowed < 0) {
        lastError_ = errno;
        return -1;
    }
    const int64_t headAllowed = std::min(head.size, allowed);
    int64_t done = WriteUncounted(position, head.data, headAllowed);
    if (done != headAllowed) {
        return done > 0 ? done : -1;
    }
    const int64_t copyAllowed = std::min(count, allowed - done);
    int64_t copied = 0;
    bool kernelCopy = true;
    std::vector<uint8_t> bounce;
    while (copied < copyAllowed) {
        const int64_t want = copyAllowed - copied;
        if (kernelCopy) {
            loff_t in = sourcePosition + copied;
            loff_t out = position + done;
            ssize_t n = SysCopyFileRange(source.fd_, &in, fd_, &out, static_cast<size_t>(want));
            if (n > 0) {
                copied += n;
                done += n;
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && !CopyUnsupported(errno)) {
                lastError_ = errno;  // ENOSPC, EFBIG, ...
                return done;
            }
            // n == 0 (the source ends here, or a file system that copies nothing) and
            // the errors above: the plain way tells which side failed.
            kernelCopy = false;
        }
        bounce.resize(static_cast<size_t>(std::min<int64_t>(want, int64_t{1} << 20)));
        const int64_t got = source.ReadAt(sourcePosition + copied, bounce.data(),
                                          static_cast<int64_t>(bounce.size()));
        if (got <= 0) {
            *sourceFailed = true;
            lastError_ = got < 0 ? source.lastError_ : EIO;
            return done;
        }
        const int64_t put = WriteUncounted(position + done, bounce.data(), got);
        if (put > 0) {
            done += put;
        }
        if (put != got) {
            return done;
        }
        copied += got;
    }
    if (copied < count) {
        lastError_ = ENOSPC;  // the fault injection cut the chunk
        return done;
    }
    const int64_t tailAllowed = std::min(tail.size, allowed - done);
    if (tailAllowed > 0) {
        const int64_t n = WriteUncounted(position + done, tail.data, tailAllowed);
        done += std::max<int64_t>(n, 0);
        if (n != tailAllowed) {
            return done;  // the system's error of that write stands
        }
    }
    if (done < total) {
        lastError_ = ENOSPC;  // the fault injection cut the chunk
    }
    return done;
}

void File::WillNeed(int64_t position, int64_t count) {
    if (fd_ < 0 || position < 0 || count <= 0) {
        return;
    }
    // The system reads at most about its largest request per call and drops the rest
    // of a larger range: ask in pieces.
    // A piece whose last byte is in memory already is taken for read: asking for it
    // again would cost the system a look at each of its pages (a warm scan spends a
    // sixth of its time so), and the system reads what little may be missing when it
    // is read.
    constexpr int64_t kPiece = int64_t{1} << 20;
    for (int64_t at = position; at < position + count; at += kPiece) {
        const int64_t piece = std::min(kPiece, position + count - at);
        char probe;
        iovec one{&probe, 1};
        if (::preadv2(fd_, &one, 1, static_cast<off_t>(at + piece - 1), RWF_NOWAIT) == 1) {
            continue;
        }
        ::posix_fadvise(fd_, static_cast<off_t>(at), static_cast<off_t>(piece),
                        POSIX_FADV_WILLNEED);
    }
}

bool File::Truncate(int64_t size) {
    if (fd_ < 0 || size < 0) {
        lastError_ = fd_ < 0 ? EBADF : EINVAL;
        return false;
    }
    int r = 0;
    do {
        r = ::ftruncate(fd_, static_cast<off_t>(size));
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        lastError_ = errno;
        return false;
    }
    return true;
}

bool File::StartWriteback() {
    WriteFaults* faults = CurrentWriteFaults();
    if (fd_ < 0 || (faults != nullptr && faults->failFlush) ||
        ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE) != 0) {
        lastError_ = fd_ < 0 ? EBADF : EIO;
        return false;
    }
    return true;
}

bool File::Flush() {
    if (fd_ < 0) {
        lastError_ = EBADF;
        return false;
    }
    WriteFaults* faults = CurrentWriteFaults();
    if ((faults != nullptr && faults->failFlush) || ::fsync(fd_) != 0) {
        lastError_ = faults != nullptr && faults->failFlush ? EIO : errno;
        return false;
    }
    return true;
}

}  // namespace qv
