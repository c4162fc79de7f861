// The one index type of the engine. Counts and offsets of nodes, values and
// reaction tables are int, as the counts of the model file are (see
// model/simulation.h for why they cannot overflow). A standard container or an
// allocation takes its size as size_t; the conversion is written there, once.
#pragma once

#include <cstddef>

inline size_t ToSize(int count) {
    return static_cast<size_t>(count);
}
