// libFuzzer entry of one target: LUSTRA_FUZZ_CASE names its case function.
#include "FuzzCases.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("VXHOME", LUSTRA_DATA_DIR, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    lustra::fuzz::LUSTRA_FUZZ_CASE(data, size);
    return 0;
}
