// The optional extension file BASE.kvx (TOML): what the model file cannot say.
//
//   [units]     length, time, mass: labels (nothing is converted)
//   [aquifer]   thickness > 0 (default 1): turns cell areas into volumes
//   [entries]   immobile = [...], mobile = [...]: one name per entry in state
//               order, each a string or { name = "...", units = "..." }
//   [[observe]] name, row and col (or x and y, snapped to the nearest node),
//               entries = [...] (default: every immobile and mobile entry)
//   [[inject]]  name (optional), nodes = [[row, col], ...] or rectangle =
//               [first_row, first_col, last_row, last_col], concentration =
//               { ENTRY = value, ... }: what the water that these nodes'
//               positive sources bring in carries
//
// Every key is checked where it is read: an unknown key, a wrong type or a
// value out of range is an InputException naming the key and its line. The
// file is read after the model file, whose counts and grid it is checked
// against.
#pragma once

#include <string>

class CSimulation;

// BASE.kvx.
std::string ExtensionFileName(const std::string& base);

// Reads BASE.kvx into s.m_ext when the file exists; without it s.m_ext keeps
// its defaults. Failures end with "(file BASE.kvx)".
void LoadExtension(CSimulation& s, const std::string& base);

// The same from text; source names the file in the messages.
void ReadExtension(CSimulation& s, const std::string& text, const std::string& source);
