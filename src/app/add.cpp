// Adding machines: one name, every name in a file, or every name a command prints.
#include "app/add.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/children.h"
#include "dialogs/minibuf.h"
#include "machines/hostrange.h"
#include "machines/mlist.h"
#include "screen/colors.h"

namespace {

constexpr size_t kAddPromptSize = 64;

// Linux passes no single argument longer than this to a program, so a longer word can never reach ssh.
constexpr size_t kMaxWordBytes = 128 * 1024 - 1;

// Control bytes never belong in a machine's name; a NUL would even cut it short without a word. Such
// words come from a binary file or a command's stray output.
bool can_be_name(const std::string &word)
{
    for (char c : word) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte == 127) return false;
    }
    return true;
}

// White space as the C locale has it: the user's locale must not turn bytes of a name into separators.
bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Adds the machines one name stands for: several for a host range, as many as the list has room for.
void add_name(const std::string &name)
{
    for (const std::string &one : hostrange_expand(name, static_cast<size_t>(kMaxMachines - mlist_count())))
        mlist_add(one);
}

// Reads whitespace-separated words and adds each one that can be a name; words past the list's
// capacity are read and dropped. Returns false when reading failed before the end.
bool add_words(FILE *f)
{
    // Whole blocks and whole runs of bytes at a time: a command may print a hundred megabytes.
    std::vector<char> block(64 * 1024);
    std::string word;
    bool too_long = false; // the word is being skipped, not held: a file of one endless word stays cheap
    auto finish_word = [&] {
        if (!word.empty() && !too_long && can_be_name(word)) add_name(word);
        word.clear();
        too_long = false;
    };
    size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), f)) > 0) {
        const char *p = block.data();
        const char *end = p + n;
        while (p < end) {
            if (is_blank(*p)) {
                finish_word();
                ++p;
                continue;
            }
            const char *from = p;
            while (p < end && !is_blank(*p))
                ++p;
            auto len = static_cast<size_t>(p - from);
            if (too_long || word.size() + len > kMaxWordBytes)
                too_long = true;
            else
                word.append(from, len);
        }
    }
    finish_word();
    return !std::ferror(f);
}

bool is_directory(FILE *f)
{
    struct stat st;
    return fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode);
}

void add_from_command(WINDOW *mb, const char *command, const std::string &rest)
{
    // The command must not read the user's terminal: it is in raw mode, where no key ends the input, so a
    // command that reads would take the user's keys and never return.
    std::string line = "exec </dev/null; " + std::string(command) + " " + rest + " 2>/dev/null";
    FILE *f = popen(line.c_str(), "r");
    if (!f) {
        minibuf_error(mb, "Can't execute command specified by QUILLOR_AT_COMMAND", kAttrError);
        return;
    }
    minibuf_message(mb, "Adding machines supplied by command...", kAttrText);
    add_words(f);
    if (pclose(f) != 0)
        minibuf_error(mb, "Command given by QUILLOR_AT_COMMAND exited with error.", kAttrError);
    // pclose reaped the command, but its exit was counted like an ssh child's.
    children_forget_one();
    minibuf_message(mb, nullptr, kAttrText);
}

void add_from_file(WINDOW *mb, const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "r");
    // A directory opens for reading but has no names to give.
    if (f && is_directory(f)) {
        std::fclose(f);
        f = nullptr;
    }
    if (!f) {
        minibuf_error(mb, "Can't read that file.", kAttrError);
        return;
    }
    minibuf_message(mb, "Adding machines from file...", kAttrText);
    bool read_whole = add_words(f);
    std::fclose(f);
    // The names before the failure stay added, but the user must know the list may be incomplete.
    if (!read_whole) minibuf_error(mb, "Can't read that file.", kAttrError);
    minibuf_message(mb, nullptr, kAttrText);
}

} // namespace

void add_machines(WINDOW *minibuf_window)
{
    std::string text;
    if (minibuf_prompt(minibuf_window, "Add: ", kAttrPrompt, text, kAddPromptSize))
        add_text(minibuf_window, text);
}

void add_text(WINDOW *minibuf_window, const std::string &text)
{
    if (text.empty() || text[0] != '@') {
        add_name(text);
        return;
    }
    std::string rest = text.substr(1);
    if (const char *command = std::getenv("QUILLOR_AT_COMMAND"))
        add_from_command(minibuf_window, command, rest);
    else
        add_from_file(minibuf_window, rest);
}
