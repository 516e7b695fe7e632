// modulectl map: the flash as an SVG picture. The section map as lanes over
// the flash offsets with the image's range laid over them, and a grid of
// every erase block coloured by its state (NOR: erased, programmed, locked;
// NAND: bad, relocated, reserve, erased, programmed), blocks that hold the
// image outlined, and a legend with the counts.
#pragma once
#include <ostream>
#include <string>

// Writes the picture of the module in dir to svg_path. The image's range is
// where an update puts the records of image when one is given, else the
// image the section map finds in flash. Says what it drew on out.
bool draw_flash_map(const std::string& dir, const std::string& svg_path, const std::string& image, std::ostream& out,
                    std::string* error);
