// The prompt fuzzer's seeds and every input that once broke the prompt's editing, replayed under the
// fuzzer's own checks.
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/fuzz_checks.h"

namespace {

TEST(PromptFuzzReplay, KeptKeySequencesEditAsTheyShouldAndLeaveTheLineBlank)
{
    // A prompt that misses its ending key reads time-outs for ever.
    alarm(60);
    std::vector<FuzzInput> inputs = fuzz_kept_inputs("prompt_fuzz");
    ASSERT_FALSE(inputs.empty()) << "no seeds or regressions found for prompt_fuzz";
    for (const FuzzInput &in : inputs)
        EXPECT_EQ(fuzz_check_prompt(in.bytes.data(), in.bytes.size()), "") << in.path;
    alarm(0);
}

} // namespace
