#include "platform/Platform.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>

namespace qv {

uint32_t TickCount() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(static_cast<uint64_t>(ms.count()));
}

PathParts SplitPath(const std::string& path) {
    PathParts parts;
    size_t slash = path.find_last_of('/');
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    parts.folder = path.substr(0, nameStart);
    std::string file = path.substr(nameStart);
    size_t dot = file.find_last_of('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string::npos || dot == 0) {
        parts.name = file;
    } else {
        parts.name = file.substr(0, dot);
        parts.extension = file.substr(dot);
    }
    return parts;
}

std::string FileNameOf(const std::string& path) {
    PathParts p = SplitPath(path);
    return p.name + p.extension;
}

bool SameFileName(const std::string& a, const std::string& b) {
#if defined(_WIN32) || defined(__APPLE__)
    return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
#else
    return a == b;
#endif
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }
    return SameFileName(a, b);
}

int32_t LocalTimeToCalendar(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    // Times before 1970 count as not representable, as with the 32-bit calendar time.
    if (t < 0 || t > std::numeric_limits<int32_t>::max()) {
        return -1;
    }
    return static_cast<int32_t>(t);
}

std::string FormatLocalTime(int64_t calendarTime, const char* pattern) {
    std::time_t t = static_cast<std::time_t>(calendarTime);
    std::tm tm{};
    if (::localtime_r(&t, &tm) == nullptr) {
        return {};
    }
    char text[256];
    size_t n = std::strftime(text, sizeof text, pattern, &tm);
    return std::string(text, n);
}

std::string SystemErrorText(int error) {
    char buffer[256];
    // The GNU strerror_r returns the text, which need not be in buffer.
    return ::strerror_r(error, buffer, sizeof buffer);
}

std::string WithReason(const std::string& text, const std::string& file, int error) {
    if (error == 0) {
        return text;
    }
    return text + "\n" + file + ": " + SystemErrorText(error);
}

bool IsDiskFull(int error) {
    return error == ENOSPC || error == EDQUOT;
}

}  // namespace qv
