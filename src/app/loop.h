// The main loop: keep every terminal up to date, repaint, act on one key.
#pragma once

// Runs until the menu's confirmed quit ends the process.
[[noreturn]] void main_loop();

// One turn: reap, update, repaint, then wait up to 200 ms for a key or a terminal's output.
void main_loop_turn();

// Acts on one key: F1 to F7 drive the program, every other key goes to the machines.
void main_dispatch(int key);
