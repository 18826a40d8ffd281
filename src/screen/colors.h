// Attribute bytes: bit 7 bold, bits 6-4 foreground, bit 3 blink, bits 2-0 background (curses colours).
#pragma once

#include <curses.h>

constexpr int kAttrBold = 0x80;
constexpr int kAttrBlink = 0x08;

// On a terminal without colours, a look that sets either of these bits above the byte is bold and/or
// faded (dim, or underlined where the terminal has no dim) instead of what the byte's bold bit says.
constexpr int kAttrPlainBold = 0x100;
constexpr int kAttrPlainFaded = 0x200;

// The program's own looks, each named once.
constexpr int kAttrText = 0x70;       // white on black: plain text, what the user typed, the credit
constexpr int kAttrError = 0xF1;      // bold white on red: errors that wait for a key
constexpr int kAttrPrompt = 0xE0;     // bold cyan on black: the add prompt
constexpr int kAttrQuestion = 0x90;   // bold red on black: confirmations and the rename prompt
constexpr int kAttrTitle = 0x40;      // blue on black: the splash title
constexpr int kAttrFrame = 0xC0;      // bold blue on black: the lines around the panels
constexpr int kAttrBar = 0xF4;        // bold white on blue: the key-help bar
constexpr int kAttrPopup = 0xF4;      // bold white on blue: popup background, border, plain text
constexpr int kAttrHighlight = 0xE4;  // bold cyan on blue: highlighted popup text
constexpr int kAttrSummary = 0x80;    // grey (bold black): the summary column
constexpr int kAttrMulticast = 0xF9;  // bold blinking white on red: the multicast indicator
constexpr int kAttrSinglecast = 0x40; // blue on black: the singlecast indicator

// List rows: by tag and life; a selected row gets a red background on top. Without colours, tagged
// is bold and dead is faded, so that neither hides the other.
constexpr int kAttrRowAlive = 0x70;
constexpr int kAttrRowDead = 0x80 | kAttrPlainFaded;
constexpr int kAttrRowTagged = 0xA0 | kAttrPlainBold;
constexpr int kAttrRowTaggedDead = 0x20 | kAttrPlainBold | kAttrPlainFaded;
constexpr int kAttrRowSelected = 0x01;

// A key on the help bar: bold in colour fg (1-7) on the bar's blue.
constexpr int attr_bar_key(int fg)
{
    return kAttrBold | fg << 4 | COLOR_BLUE;
}

// Replaces the window's attributes with what the attribute byte describes (only its low 8 bits count,
// and the plain bits above on a terminal without colours). Without colours a background other than
// black is reverse video, bold black (grey) is dim and other bold is bold. A null window is ignored.
void set_color(WINDOW *win, int attribute);
