// JSON text for the reports of the tools.
#pragma once

#include <string>

// s as a JSON string: quoted, with '"' and '\' escaped and every byte outside printable
// ASCII as \u00XX.
std::string JsonString(const std::string& s);
