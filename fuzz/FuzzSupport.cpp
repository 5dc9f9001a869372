#include "fuzz/FuzzSupport.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "avi/AviReader.h"
#include "avi/RiffAviReader.h"

namespace qvfuzz {

namespace {

class Scratch {
public:
    Scratch() {
        std::error_code ec;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, ec) || ::access(base.c_str(), W_OK) != 0) {
            base = std::filesystem::temp_directory_path();
        }
        RemoveLeftovers(base);
        std::string pattern = (base / ("qvfuzz-" + std::to_string(::getpid()) + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            Fail("cannot make the scratch folder");
        }
        dir_ = pattern;
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::string& Dir() const { return dir_; }

private:
    // A run ended by a fault or a time limit leaves its folder behind; the folders
    // of processes that no longer run go at the next start.
    static void RemoveLeftovers(const std::filesystem::path& base) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("qvfuzz-", 0) != 0) {
                continue;
            }
            const long pid = std::strtol(name.c_str() + 7, nullptr, 10);
            if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
                std::filesystem::remove_all(entry.path(), ec);
            }
        }
    }

    std::string dir_;
};

}  // namespace

const std::string& ScratchDir() {
    static Scratch scratch;
    return scratch.Dir();
}

std::string ScratchPath(const std::string& name) { return ScratchDir() + "/" + name; }

std::string WriteScratchFile(const std::string& name, const uint8_t* data, size_t size) {
    std::string path = ScratchPath(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    Check(static_cast<bool>(out), "cannot write a scratch file");
    return path;
}

void ClearScratch() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ScratchDir(), ec)) {
        std::filesystem::remove_all(entry.path(), ec);
    }
}

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

namespace {

// Room for the largest DV frame and then some, so that every chunk of a sound
// file fits and long audio runs take few calls.
constexpr int kReadBuffer = 256 * 1024;

// Where reading goes on after a read at unit gave nothing: the next chunk. A
// damaged index entry may claim far more units than the file holds; they all
// fail alike, and one read each would only measure this loop.
int NextChunkUnit(qv::AviStream& stream, int unit) {
    auto* riff = dynamic_cast<qv::RiffAviStream*>(&stream);
    const int e = riff != nullptr ? riff->FindEntry(unit) : -1;
    if (e < 0 || static_cast<size_t>(e) + 1 >= riff->Entries().size()) {
        return riff != nullptr ? stream.Length() : unit + 1;
    }
    return std::max(unit + 1, riff->Entries()[static_cast<size_t>(e) + 1].firstUnit);
}

void ReadEveryUnit(qv::AviStream& stream, std::vector<uint8_t>& buffer) {
    const int length = stream.Length();
    Check(length >= 0, "negative stream length");
    for (int unit = 0; unit < length;) {
        int unitsRead = -1;
        int bytesRead = -1;
        const bool read = stream.Read(unit, length - unit, &unitsRead, buffer.data(),
                                      kReadBuffer, &bytesRead);
        Check(unitsRead >= 0 && unitsRead <= length - unit, "units read out of range");
        Check(bytesRead >= 0 && bytesRead <= kReadBuffer, "bytes read out of range");
        Check(read == (bytesRead > 0), "result disagrees with bytes read");
        unit = unitsRead > 0 ? unit + unitsRead : NextChunkUnit(stream, unit);
    }
    // Reads outside the stream and with no room give nothing.
    for (int unit : {-1, length, INT_MAX}) {
        int unitsRead = -1;
        int bytesRead = -1;
        stream.Read(unit, 1, &unitsRead, buffer.data(), kReadBuffer, &bytesRead);
        Check(unitsRead == 0 && bytesRead == 0, "read outside the stream");
    }
    if (length > 0) {
        int unitsRead = -1;
        int bytesRead = -1;
        Check(!stream.Read(0, 1, &unitsRead, buffer.data(), 0, &bytesRead) && bytesRead == 0,
              "read into no room");
    }
}

void CheckFindEntry(qv::RiffAviStream& stream) {
    const auto& entries = stream.Entries();
    const int n = static_cast<int>(entries.size());
    for (int e = 1; e < n; ++e) {
        Check(entries[e - 1].firstUnit <= entries[e].firstUnit, "entries out of unit order");
    }
    const int length = stream.Length();
    const std::array<int, 9> probes{-1, 0, 1, length / 3, length / 2, length - 2, length - 1,
                                    length, INT_MAX};
    for (int pass = 0; pass < 2; ++pass) {  // the second pass starts from remembered entries
        for (int unit : probes) {
            const int e = stream.FindEntry(unit);
            Check(e >= -1 && e < n, "entry out of range");
            if (unit < 0 || n == 0) {
                Check(e == -1, "entry for no unit");
            }
            if (e >= 0) {
                Check(entries[e].firstUnit <= unit, "entry starts after the unit");
                Check(e == n - 1 || unit < entries[e + 1].firstUnit, "a later entry holds the unit");
            }
        }
    }
}

}  // namespace

void ExerciseReader(qv::AviReader& reader) {
    static std::vector<uint8_t> buffer(kReadBuffer);
    (void)reader.Describe();
    (void)reader.Kind();
    (void)reader.FramesPerSecond();
    (void)reader.IndexRebuilt();
    const int frames = reader.FrameCount();
    Check(frames >= 0, "negative frame count");
    Check(reader.StreamCount() >= 0, "negative stream count");
    Check(reader.Stream(-1) == nullptr && reader.Stream(reader.StreamCount()) == nullptr,
          "a stream outside the list");
    auto* riff = dynamic_cast<qv::RiffAviReader*>(&reader);
    for (int i = 0; i < reader.StreamCount(); ++i) {
        qv::AviStream* stream = reader.Stream(i);
        Check(stream != nullptr, "a listed stream is missing");
        (void)stream->Header();
        (void)stream->Format();
        (void)stream->GetVideoFormat();
        (void)stream->GetAudioFormat();
        (void)stream->FramesPerSecond();
        (void)stream->UnitSize();
        (void)stream->Type();
        const int length = stream->Length();
        for (int unit : {-1, 0, length / 2, length - 1, length, INT_MAX}) {
            const int64_t chunk = stream->ChunkSize(unit);
            Check(chunk >= -1, "negative chunk size");
            if (unit < 0 || unit >= length) {
                Check(chunk == -1, "a chunk outside the stream");
            }
        }
        ReadEveryUnit(*stream, buffer);
        if (riff != nullptr) {
            CheckFindEntry(*riff->RiffStream(i));
        }
    }
}

}  // namespace qvfuzz
