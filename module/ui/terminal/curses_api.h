// ncurses with its wide-character calls, as the terminal front-end uses it.
// Only the screen thread calls into it.
#pragma once
#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <ncurses.h>
