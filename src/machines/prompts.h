// What a terminal's last words say about a login: whether a shell waits for a command, or something
// waits for a secret or a yes/no. Read from the start of the cursor's line up to the cursor, where a
// program waiting for the user leaves it.
#pragma once

#include <string_view>

enum class LineLook {
    Other,       // output, or a line still being written
    ShellPrompt, // a shell, or another program's command line, waits for a command
    Asking,      // a password, passphrase, PIN, one-time code or host-key yes/no waits for an answer
};

// How the text before the cursor looks (code points; blanks after the last character do not count). A
// question that asks for a secret or a yes/no ends in ':' or '?' and names what it wants; a shell
// prompt ends in one of the characters prompts end in ('$', '#', '%', '>' and a few others).
LineLook prompts_look(std::u32string_view before_cursor);
