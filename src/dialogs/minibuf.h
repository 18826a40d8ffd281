// The bottom line's dialogs: a line prompt, an error that waits for a key, a message that does not.
#pragma once

#include <curses.h>

#include <cstddef>
#include <string>

// The note for keys that went nowhere: multicast with no machine tagged.
constexpr char kNothingSentNote[] = "No machine is tagged: nothing was sent";

// Reads a line after the prompt, editing `text` (at most bufsize - 1 bytes, bytes 128-255 kept as
// typed). True when accepted with Enter, false when cancelled; `text` holds the edited text either way.
bool minibuf_prompt(WINDOW *win, const char *prompt, int attribute, std::string &text, size_t bufsize);

// Asks a y/n question with minibuf_prompt; true only for an accepted "y" or "Y".
bool minibuf_confirm(WINDOW *win, const char *question, int attribute);

// Shows the message (none when null) and waits for one key, which is dropped; F1 to F7 only dismiss the
// message and are read again by whoever reads the next key.
void minibuf_error(WINDOW *win, const char *message, int attribute);
