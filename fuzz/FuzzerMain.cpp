// One libFuzzer program: QV_FUZZ_ENTRY names the target's entry function.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qvfuzz::QV_FUZZ_ENTRY(data, size);
}
