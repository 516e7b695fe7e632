// The program's main routine, called by the platform's start-up code with the
// command-line text that follows the program's name.
#pragma once
#include "platform/windows.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine, int showState);
