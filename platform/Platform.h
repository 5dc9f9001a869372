#pragma once
// Small stand-ins for operating-system services: the millisecond tick, file-name
// handling by the platform's rules, and local-time conversion through the C library.

#include <cstdint>
#include <ctime>
#include <string>

namespace qv {

// Milliseconds since an arbitrary start, wrapping at 2^32 like a 32-bit tick count.
uint32_t TickCount();

struct PathParts {
    std::string drive;      // empty where the platform has no drives
    std::string folder;     // with its trailing separator, empty when none
    std::string name;       // without extension
    std::string extension;  // with its dot, empty when none
};
PathParts SplitPath(const std::string& path);
// "tape1.avi" of "/home/u/tape1.avi".
std::string FileNameOf(const std::string& path);

// Whether two names denote the same file: by device and inode where both exist,
// otherwise by name (exact on Linux, ignoring letter case on Windows and macOS).
bool SameFile(const std::string& a, const std::string& b);
// The name-only part of that rule.
bool SameFileName(const std::string& a, const std::string& b);

// Local wall-clock time to seconds since 1970 UTC, daylight saving decided by the
// platform. -1 when the platform cannot convert it, it lies before 1970 or beyond 32 bits.
int32_t LocalTimeToCalendar(int year, int month, int day, int hour, int minute, int second);
// strftime of a calendar time taken as local time; empty on failure.
std::string FormatLocalTime(int64_t calendarTime, const char* pattern);

// The system's own text for an errno value ("No space left on device").
std::string SystemErrorText(int error);
// text, and on the next line the file and the system's reason, when error is not 0.
std::string WithReason(const std::string& text, const std::string& file, int error);
// Whether error says the disk or the user's quota is full.
bool IsDiskFull(int error);

}  // namespace qv
