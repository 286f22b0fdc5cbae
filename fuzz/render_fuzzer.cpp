// libFuzzer entry: every input is one render case through the module.
#include "RenderFuzzCase.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("VXHOME", LUSTRA_DATA_DIR, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    lustra::fuzz::renderFuzzCase(data, size);
    return 0;
}
