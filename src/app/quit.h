// Ending the program from its main loop.
#pragma once

// Hangs up every machine (held, starting or running), gives the user's terminal back as it was and
// exits with the status. Nothing is left for static destructors to do, so their order cannot matter.
[[noreturn]] void quit_program(int status);
