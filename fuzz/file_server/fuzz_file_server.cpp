// libFuzzer target: arbitrary byte streams and request lists through the file server.

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    rfs_fuzz::runInput(data, size);
    return 0;
}
