// Adding machines: one name, every name in a file, or every name a command prints.
#include "app/add.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/children.h"
#include "dialogs/minibuf.h"
#include "machines/mlist.h"

namespace {

constexpr size_t kAddPromptSize = 64;

// Reads whitespace-separated words of any length and adds each one; words past the list's capacity
// are read and dropped.
void add_words(FILE *f)
{
    std::string word;
    int c;
    while ((c = std::getc(f)) != EOF) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!word.empty()) mlist_add(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(c));
        }
    }
    if (!word.empty()) mlist_add(word);
}

bool is_directory(FILE *f)
{
    struct stat st;
    return fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode);
}

void add_from_command(WINDOW *mb, const char *command, const std::string &rest)
{
    std::string line = std::string(command) + " " + rest + " 2>/dev/null";
    FILE *f = popen(line.c_str(), "r");
    if (!f) {
        minibuf_error(mb, "Can't execute command specified by QUILLOR_AT_COMMAND", 0xF1);
        return;
    }
    minibuf_message(mb, "Adding machines supplied by command...", 0x70);
    add_words(f);
    if (pclose(f) != 0) minibuf_error(mb, "Command given by QUILLOR_AT_COMMAND exited with error.", 0xF1);
    // pclose reaped the command, but its exit was counted like an ssh child's.
    children_forget_one();
    minibuf_message(mb, nullptr, 0x70);
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
        minibuf_error(mb, "Can't read that file.", 0xF1);
        return;
    }
    minibuf_message(mb, "Adding machines from file...", 0x70);
    add_words(f);
    std::fclose(f);
    minibuf_message(mb, nullptr, 0x70);
}

} // namespace

void add_machines(WINDOW *minibuf_window)
{
    std::string text;
    if (!minibuf_prompt(minibuf_window, "Add: ", 0xE0, text, kAddPromptSize)) return;
    if (text.empty() || text[0] != '@') {
        mlist_add(text);
        return;
    }
    std::string rest = text.substr(1);
    if (const char *command = std::getenv("QUILLOR_AT_COMMAND"))
        add_from_command(minibuf_window, command, rest);
    else
        add_from_file(minibuf_window, rest);
}
