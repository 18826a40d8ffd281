// The main loop: keep every terminal up to date, repaint, act on every key typed.
#pragma once

// Runs until the menu's confirmed quit ends the process.
[[noreturn]] void main_loop();

// One turn: wait (serving the machines and repainting) for a key, then act on it and on every key
// typed after it.
void main_loop_turn();

// Acts on one key: F1 to F7 drive the program, every other key goes to the machines. Plain bytes are
// gathered and sent when the turn ends or a key that is not plain comes.
void main_dispatch(int key);
