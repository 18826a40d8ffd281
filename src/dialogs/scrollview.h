// Looking back through what scrolled off the selected machine's screen.
#pragma once

// Shows the selected machine's history, with its screen as the newest lines, in the terminal panel
// until the user leaves with q, Escape or F1. Machines keep running meanwhile and no key reaches any.
// Does nothing without a selected machine.
void scrollview_show();
