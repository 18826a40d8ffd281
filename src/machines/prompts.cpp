// Telling a shell prompt and a question for a secret from other output, by the line the cursor is on.
#include "machines/prompts.h"

#include <algorithm>
#include <string>

namespace {

// Words a question for something the user must type names: ssh's own password and passphrase
// questions, PAM's keyboard-interactive ones (one-time codes, PINs, tokens' passcodes) and sudo's.
constexpr std::u32string_view kSecretWords[] = {
    U"password", U"passphrase", U"passcode", U"pin", U"otp", U"verification code", U"one-time",
};
// ssh asking whether to trust a host key it has not seen: "(yes/no/[fingerprint])?", and again
// "Please type 'yes', 'no' or the fingerprint:" after a wrong answer.
constexpr std::u32string_view kYesNo[] = {U"(yes/no", U"'yes', 'no'"};

// What shell prompts end in: sh and bash ($ and # for root), csh and zsh (%), fish, PowerShell and
// network devices (>), and the arrows and lambdas of popular themes.
constexpr std::u32string_view kPromptEnds = U"$#%>\u276F\u279C\u03BB\u00BB";

bool is_letter(char32_t c)
{
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
}

char32_t lower(char32_t c)
{
    return c >= U'A' && c <= U'Z' ? c + (U'a' - U'A') : c;
}

// True when the line holds the phrase as words of their own (ASCII case ignored): "pin" is in "Enter
// PIN for" but not in "Spinning".
bool has_phrase(const std::u32string &line, std::u32string_view phrase)
{
    for (size_t at = line.find(phrase); at != std::u32string::npos; at = line.find(phrase, at + 1)) {
        const size_t end = at + phrase.size();
        if ((at == 0 || !is_letter(line[at - 1])) && (end == line.size() || !is_letter(line[end])))
            return true;
    }
    return false;
}

} // namespace

LineLook prompts_look(std::u32string_view before_cursor)
{
    const size_t last = before_cursor.find_last_not_of(U" \t");
    if (last == std::u32string_view::npos) return LineLook::Other;
    std::u32string line(before_cursor.substr(0, last + 1));
    std::transform(line.begin(), line.end(), line.begin(), lower);
    const char32_t end = line.back();
    if (end == U':' || end == U'?') {
        for (std::u32string_view yes_no : kYesNo)
            if (line.find(yes_no) != std::u32string::npos) return LineLook::Asking;
    }
    if (end == U':') {
        for (std::u32string_view word : kSecretWords)
            if (has_phrase(line, word)) return LineLook::Asking;
    }
    if (kPromptEnds.find(end) != std::u32string_view::npos) return LineLook::ShellPrompt;
    return LineLook::Other;
}
