// What the program's parts ask of its one wait, registered once at start-up.
#pragma once

// Registers the machines' terminals and their exits, their held logins, the forsaken terminals, the
// answers to compare, a continue after a stop, the keyboard's gate and the screen. After the layout and
// the machine list are made.
void serve_init();
