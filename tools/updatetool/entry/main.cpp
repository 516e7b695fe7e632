#include "tools/updatetool/updatetool_main.h"

int main(int argc, char** argv) { return updatetool_main(argc, argv); }
