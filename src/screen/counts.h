// The fleet at a glance: how many machines are up, logging in, queued, asking and dead, as the bottom
// line shows it left of the mode indicator.
#pragma once

#include <string>

#include "machines/logins.h"

// "230 up  8 logging in  10 queued  2 asking  6 dead": the states that have machines, in that order,
// two blanks apart; empty when there are none. Longer than `width` columns, it loses whole states from
// the front (up first) until it fits, so that what needs the user (asking, dead) stays longest.
std::string counts_text(const FleetCounts &counts, int width);
