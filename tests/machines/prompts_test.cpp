// Which cursor lines read as a shell waiting for a command, which as a question waiting for a secret or
// a yes/no, and which as neither: what the login counts and the menu's tagging of asking machines see.
#include "machines/prompts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Prompts, TellShellPromptsAndQuestionsFromOutput)
{
    const std::pair<std::u32string, LineLook> cases[] = {
        // Shells as logins leave them, the cursor after the prompt's blank or right after its sign.
        {U"root@demo1:~# ", LineLook::ShellPrompt},
        {U"bash-5.2$ ", LineLook::ShellPrompt},
        {U"[admin@db7 ~]$", LineLook::ShellPrompt},
        {U"web1% ", LineLook::ShellPrompt},
        {U"admin@web1 ~> ", LineLook::ShellPrompt},
        {U"PS C:\\Users\\admin> ", LineLook::ShellPrompt},
        {U"~/src \u276F ", LineLook::ShellPrompt},
        {U"\u03BB ", LineLook::ShellPrompt},
        // ssh's own questions, PAM's and sudo's, whatever their case.
        {U"root@127.0.0.1's password: ", LineLook::Asking},
        {U"(admin@web1) Password: ", LineLook::Asking},
        {U"Enter passphrase for key '/root/.ssh/id_ed25519': ", LineLook::Asking},
        {U"Enter PIN for 'PIV Card Holder pin (PIV_II)': ", LineLook::Asking},
        {U"Verification code: ", LineLook::Asking},
        {U"Passcode or option (1-3): ", LineLook::Asking},
        {U"One-time password (OATH) for `admin': ", LineLook::Asking},
        {U"OTP:", LineLook::Asking},
        {U"[sudo] password for admin: ", LineLook::Asking},
        {U"Are you sure you want to continue connecting (yes/no/[fingerprint])? ", LineLook::Asking},
        {U"Please type 'yes', 'no' or the fingerprint: ", LineLook::Asking},
        // Output, and lines that only mention a secret or end like a prompt by chance.
        {U"", LineLook::Other},
        {U"   ", LineLook::Other},
        {U"Last login: Tue Dec  9 10:12:44 2026 from 127.0.0.1", LineLook::Other},
        {U"Permission denied, please try again.", LineLook::Other},
        {U"Your password will expire in 3 days", LineLook::Other},
        {U"Spinning up:", LineLook::Other},
        {U"Passwords:", LineLook::Other},
        {U"Loading 45", LineLook::Other},
        {U"Connecting to web1 (yes, really)...", LineLook::Other},
        {U"Name:", LineLook::Other},
    };
    for (const auto &[line, look] : cases) {
        std::string ascii(line.begin(), line.end()); // enough to name a case
        EXPECT_EQ(prompts_look(line), look) << ascii;
    }
}

} // namespace
