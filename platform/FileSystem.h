#pragma once
// File-system operations beyond reading and writing one file, with errors as
// results, and the fault hook through which tests make writes fail.

#include <cstdint>
#include <string>

namespace qv {

// Renames from to to, replacing to; then makes the rename durable by flushing
// the folder. False (errno kept) on failure; when only the folder's flush failed,
// the file has its new name all the same.
bool ReplaceFile(const std::string& from, const std::string& to);
// The end of writing a file under a temporary name: when written (complete and
// flushed), gives it the modification time (seconds since 1970; 0 leaves it) and its
// final name; otherwise, or when the rename fails, removes it. True when the file
// stands under its final name. A time that cannot be set costs only the date: its
// error goes to timeError and the file is put in place all the same; a failed rename's
// (or folder flush's) to error.
bool PutInPlace(bool written, const std::string& temporary, const std::string& destination,
                int64_t modificationTime, int* error, int* timeError);
// Flushes the folder that holds path, so that a rename or removal in it is on the
// disk. False (errno kept) on failure.
bool FlushFolderOf(const std::string& path);
bool RemoveFile(const std::string& path);
// Renames from to to; fails (errno EEXIST) rather than replace an existing to.
bool RenameNoReplace(const std::string& from, const std::string& to);
bool FileExists(const std::string& path);
// Whether no file of that name exists, as the system says (not: could not tell).
bool FileGone(const std::string& path);
// The folder a file of that name would go into, without its trailing separator,
// when no such folder exists; empty when it does (or the name has no folder part:
// the current folder). error (optional) receives the system's error when whether
// the folder exists could not be told (the folder is returned then too).
std::string MissingFolderOf(const std::string& path, int* error = nullptr);
// Last-modification time in seconds since 1970, or false when it cannot be read.
bool GetModificationTime(const std::string& path, int64_t* seconds);
bool SetModificationTime(const std::string& path, int64_t seconds);
// Whether the file a and the folder that holds (or will hold) b lie on one device.
bool OnSameDevice(const std::string& a, const std::string& b);
// Total physical memory in bytes.
uint64_t PhysicalMemory();
// Memory available to programs without swapping, in bytes: MemAvailable of
// /proc/meminfo, else the free pages; 0 when neither can be read.
uint64_t AvailableMemory();

// Test hook: makes chosen reads, writes, flushes, renames, removals or time stamps
// fail as a full or broken disk would. Counting starts when the faults are installed.
struct WriteFaults {
    int64_t failWriteAt = -1;   // this write (0 = the first) writes nothing: ENOSPC
    int64_t shortWriteAt = -1;  // this write writes half of its bytes
    bool failAllWritesAfter = true;  // once a write failed, every later one fails too
    bool failFlush = false;
    bool failRename = false;
    int64_t failReadAt = -1;    // this read of a file (0 = the first) fails: EIO
    bool failRemove = false;    // EACCES
    bool failTime = false;      // setting a modification time: EPERM
    // Partial I/O as signals and pipes cause it: every read, write and copy call of a
    // file moves at most this many bytes (0: no limit), and every interruptEvery-th
    // such call fails with EINTR before it moves any (0: none).
    int64_t bytesPerCall = 0;
    int64_t interruptEvery = 0;
    // This read, write or copy call (0 = the first) fails with failCallError, as a
    // disk that fills or breaks partway through a chunk does.
    int64_t failCallAt = -1;
    int failCallError = 0;
    int64_t calls = 0;   // read, write and copy calls seen so far
    int64_t writes = 0;  // writes seen so far
    int64_t reads = 0;   // reads seen so far
    bool failing = false;
};
// Installs faults (null = none). Not thread-safe; for tests only.
void SetWriteFaults(WriteFaults* faults);
WriteFaults* CurrentWriteFaults();

}  // namespace qv
