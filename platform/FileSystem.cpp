#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "platform/Platform.h"

namespace qv {

namespace {
WriteFaults* g_faults = nullptr;
}  // namespace

void SetWriteFaults(WriteFaults* faults) {
    g_faults = faults;
}

WriteFaults* CurrentWriteFaults() {
    return g_faults;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
    if (g_faults != nullptr && g_faults->failRename) {
        errno = EIO;
        return false;
    }
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        return false;
    }
    return FlushFolderOf(to);
}

bool PutInPlace(bool written, const std::string& temporary, const std::string& destination,
                int64_t modificationTime, int* error, int* timeError) {
    if (written && modificationTime != 0 && !SetModificationTime(temporary, modificationTime)) {
        *timeError = errno;
    }
    if (written && !ReplaceFile(temporary, destination)) {
        *error = errno;
        written = false;
    }
    if (!written) {
        RemoveFile(temporary);
    }
    return written;
}

bool FlushFolderOf(const std::string& path) {
    // The name lives in the folder: flushed too, a rename survives a power cut.
    std::string folder = SplitPath(path).folder;
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool flushed = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return flushed;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (g_faults != nullptr && g_faults->failRename) {
        errno = EIO;
        return false;
    }
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool RemoveFile(const std::string& path) {
    if (g_faults != nullptr && g_faults->failRemove) {
        errno = EACCES;
        return false;
    }
    return std::remove(path.c_str()) == 0;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool FileGone(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

std::string MissingFolderOf(const std::string& path, int* error) {
    if (error != nullptr) {
        *error = 0;
    }
    const PathParts parts = SplitPath(path);
    const std::string folder = parts.drive + parts.folder;
    if (folder.empty()) {
        return {};
    }
    struct stat st {};
    const bool found = ::stat(folder.c_str(), &st) == 0;
    if (found && S_ISDIR(st.st_mode)) {
        return {};
    }
    if (!found && errno != ENOENT && errno != ENOTDIR && error != nullptr) {
        *error = errno;
    }
    std::string shown = folder;
    while (shown.size() > 1 && shown.back() == '/') {
        shown.pop_back();
    }
    return shown;
}

bool GetModificationTime(const std::string& path, int64_t* seconds) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    *seconds = st.st_mtim.tv_sec;
    return true;
}

bool SetModificationTime(const std::string& path, int64_t seconds) {
    if (g_faults != nullptr && g_faults->failTime) {
        errno = EPERM;
        return false;
    }
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // access time stays
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool OnSameDevice(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    std::string folder = SplitPath(b).folder;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(folder.empty() ? "." : folder.c_str(), &sb) != 0) {
        return false;
    }
    return sa.st_dev == sb.st_dev;
}

uint64_t PhysicalMemory() {
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long size = ::sysconf(_SC_PAGE_SIZE);
    return pages > 0 && size > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(size) : 0;
}

uint64_t AvailableMemory() {
    if (std::FILE* meminfo = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        unsigned long long kib = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, meminfo) != nullptr) {
            found = std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1;
        }
        std::fclose(meminfo);
        if (found && kib <= UINT64_MAX / 1024) {
            return static_cast<uint64_t>(kib) * 1024;
        }
    }
    long pages = ::sysconf(_SC_AVPHYS_PAGES);
    long size = ::sysconf(_SC_PAGE_SIZE);
    return pages > 0 && size > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(size) : 0;
}

}  // namespace qv
