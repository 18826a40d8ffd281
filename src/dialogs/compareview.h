// Which machines answered the last multicast command differently.
#pragma once

// Shows the answers grouped by equal text in the terminal panel, largest group first, updated while
// they arrive, until q or Escape; Enter selects the chosen group's first machine and closes. Machines
// keep running meanwhile and no key reaches any.
void compareview_show();
