// Keys the program's dialogs take by their byte, and the codes of its own events past curses' keys.
#pragma once

#include <curses.h>

constexpr int kCtrlC = 3, kCtrlG = 7, kCtrlH = 8, kCtrlJ = 10, kCtrlM = 13, kCtrlU = 21;
constexpr int kEscape = 27, kDelete = 127;
