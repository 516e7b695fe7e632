// The updatetool program as a function: its executable calls it, and
// modulectl sweep calls it in processes forked from a state no run has
// touched, as a fresh process would start.
#pragma once

int updatetool_main(int argc, char** argv);
