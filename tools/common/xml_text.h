// Text put into XML or HTML (the sweep's picture, the flash map, the
// campaign's page): the characters that would end a text or an attribute
// written as entities.
#pragma once
#include <string>

std::string xml_escaped(const std::string& text);
