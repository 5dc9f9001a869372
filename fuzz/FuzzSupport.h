#pragma once
// What the fuzz targets share: a scratch folder of the process (in memory when
// /dev/shm is there) into which inputs are written as files, and a walk that
// uses every part of an open AVI file.

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {
class AviReader;
}

namespace qvfuzz {

// The process's scratch folder, made on first use and removed at exit.
const std::string& ScratchDir();
// The path of name inside the scratch folder.
std::string ScratchPath(const std::string& name);
// Writes bytes to a scratch file; aborts when that fails (a full /dev/shm must
// not pass for a clean run).
std::string WriteScratchFile(const std::string& name, const uint8_t* data, size_t size);
// Removes everything in the scratch folder.
void ClearScratch();

// A broken promise of the code under test: reported and aborted, so the fuzzer
// keeps the input.
[[noreturn]] void Fail(const char* what);
inline void Check(bool condition, const char* what) {
    if (!condition) {
        Fail(what);
    }
}

// Describes the file, reads every unit of every stream and looks up index
// entries, checking the results against the reader's promises.
void ExerciseReader(qv::AviReader& reader);

}  // namespace qvfuzz
