// Arbitrary key codes at the minibuffer prompt, with each buffer size the program uses.
#include <cstdio>
#include <cstdlib>

#include "support/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string fault = fuzz_check_prompt(data, size);
    if (!fault.empty()) {
        std::fprintf(stderr, "prompt_fuzz: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
