// Arbitrary child output through the terminal layer and onto a curses window.
#include <cstdio>
#include <cstdlib>

#include "support/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string fault = fuzz_check_vt(data, size);
    if (!fault.empty()) {
        std::fprintf(stderr, "vt_fuzz: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
