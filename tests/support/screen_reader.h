// A terminal emulator for tests: feeds it what a program wrote to its terminal, then reads the screen.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

struct VTerm;

struct ReadCell {
    std::string text; // UTF-8 of the cell, " " for a blank
    int fg = -1;      // 0-255, -1 for the default colour
    int bg = -1;
    bool bold = false;
    bool blink = false;
    bool reverse = false;
    bool strike = false;
    int underline = 0; // 1 single, 2 double
};

class ScreenReader {
public:
    ScreenReader(int rows, int cols);
    ~ScreenReader();
    void feed(const char *bytes, size_t len);
    // Takes the new size as a terminal window does when the user drags it: what is on the screen is
    // kept, cut or padded. Call it from the thread that reads the screen, before the program learns of
    // the size.
    void resize(int rows, int cols);
    std::string row_text(int row) const; // the row's characters, trailing blanks kept
    std::string all_text() const;        // every row, joined with "\n"
    ReadCell cell(int row, int col) const;
    int cursor_row() const;
    int cursor_col() const;
    bool cursor_visible() const;
    int rows() const { return rows_; }
    int cols() const { return cols_; }

private:
    int rows_, cols_;
    VTerm *vt_;
    bool cursor_visible_ = true;
    mutable std::mutex mu_;
    std::string tail_;
    friend int screen_reader_settermprop(int, void *, void *);
};
