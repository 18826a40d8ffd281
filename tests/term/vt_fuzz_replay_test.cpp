// The terminal fuzzer's seeds and every input that once broke the terminal layer, replayed under the
// fuzzer's own checks: a wide character on a one-column screen, half-overwritten wide characters,
// 5-byte UTF-8, a cut string sequence that made libvterm read past its input, 17 parameters that made
// it write past its own, and repeats that never ended.
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/fuzz_checks.h"

namespace {

TEST(VtFuzzReplay, KeptInputsKeepCursorAndCellsSaneAndDrawTheScreen)
{
    // An input that hangs libvterm would otherwise only end at the test runner's time-out.
    alarm(60);
    std::vector<FuzzInput> inputs = fuzz_kept_inputs("vt_fuzz");
    ASSERT_FALSE(inputs.empty()) << "no seeds or regressions found for vt_fuzz";
    for (const FuzzInput &in : inputs)
        EXPECT_EQ(fuzz_check_vt(in.bytes.data(), in.bytes.size()), "") << in.path;
    alarm(0);
}

} // namespace
