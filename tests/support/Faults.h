#pragma once
// Disk faults for tests of code that saves files: each way a save can fail, and
// faults installed for one scope.

#include <vector>

#include "platform/FileSystem.h"

namespace qvtest {

struct NamedFaults {
    const char* name;
    qv::WriteFaults faults;
};

// A write that writes nothing, one that writes half its bytes, a failing flush and a
// failing rename.
inline std::vector<NamedFaults> EachSaveFault() {
    return {{"write", {.failWriteAt = 0}},
            {"short write", {.shortWriteAt = 0}},
            {"flush", {.failFlush = true}},
            {"rename", {.failRename = true}}};
}

class ScopedFaults {
public:
    explicit ScopedFaults(qv::WriteFaults* faults) { qv::SetWriteFaults(faults); }
    ~ScopedFaults() { qv::SetWriteFaults(nullptr); }
    ScopedFaults(const ScopedFaults&) = delete;
    ScopedFaults& operator=(const ScopedFaults&) = delete;
};

}  // namespace qvtest
