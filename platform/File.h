#pragma once
// A file on an operating-system descriptor with 64-bit positions. Errors are results:
// false, -1 or a short count, with the system error kept in LastError().

#include <cstdint>
#include <string>

namespace qv {

class File {
public:
    enum class Access { Sequential, Random };  // read-ahead hint for the kernel

    File() = default;
    ~File() { Close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    // Opens an existing regular file for reading; others may read it at the same time.
    // A FIFO, device or folder is refused without blocking.
    bool OpenRead(const std::string& path, Access access);
    // Creates a new file for reading and writing; fails when the name exists.
    bool CreateNew(const std::string& path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Current size in bytes, or -1.
    int64_t Size() const;

    // Positions may lie beyond the end; reads there return 0 bytes.
    bool Seek(int64_t position);
    int64_t Position() const { return position_; }

    // Reads up to count bytes at the current position and advances by the bytes read.
    // Returns the bytes read (0 at the end of the file) or -1 on an error.
    int64_t Read(void* buffer, int64_t count);
    // The same at an explicit position; the current position is left alone.
    int64_t ReadAt(int64_t position, void* buffer, int64_t count);
    // Reads headSize bytes at position into head and the count bytes after them into
    // buffer, in one call where it can (a chunk header with its data). Returns the bytes
    // read into both, as ReadAt does.
    int64_t ReadAt(int64_t position, void* head, int64_t headSize, void* buffer, int64_t count);

    // Writes count bytes at position; returns the bytes written (short on a full
    // disk) or -1 on an error.
    int64_t WriteAt(int64_t position, const void* buffer, int64_t count);
    // Writes the parts one after the other at position, in one call where it can.
    struct Part {
        const void* data;
        int64_t size;
    };
    int64_t WriteAt(int64_t position, const Part* parts, int count);
    // Writes head, then count bytes of source from sourcePosition, then tail, at position
    // (a chunk header, its data and its pad byte). The middle is copied inside the kernel
    // where it can, never through this process's memory unless it must. Returns the
    // bytes written as WriteAt does; sourceFailed tells when the shortfall was the
    // source's (it ended early or could not be read).
    int64_t WriteAtCopying(int64_t position, const Part& head, File& source,
                           int64_t sourcePosition, int64_t count, const Part& tail,
                           bool* sourceFailed);
    // Asks the system to start reading [position, position + count) into the page cache
    // without waiting for it: the reads after it then find their data there.
    void WillNeed(int64_t position, int64_t count);
    // Cuts the file (or lengthens it with zeros) to size bytes.
    bool Truncate(int64_t size);
    // Puts the file's data on the disk and waits until it is there.
    bool Flush();
    // Starts writing what was written so far to the disk, without waiting.
    bool StartWriteback();

    int LastError() const { return lastError_; }
    // The system's error of the first read that failed since the file was opened, or 0:
    // a read error is an error of the file, never taken as data that is not there.
    int ReadError() const { return readError_; }

private:
    void ReadFailed(int error) {
        lastError_ = error;
        if (readError_ == 0) {
            readError_ = error;
        }
    }

    int64_t WriteUncounted(int64_t position, const void* data, int64_t count);

    int fd_ = -1;
    int64_t position_ = 0;
    int lastError_ = 0;
    int readError_ = 0;
};

}  // namespace qv
