// The base path a tool is given: the model's path without its extension.
#pragma once

#include <string>

// "run/model.kvi" (or .kvo, .kvt) is taken as "run/model"; anything else is
// kept as it is.
std::string StripResultExtension(const std::string& path);

// "run/model" -> "model".
std::string BaseStem(const std::string& base);

// "run/model" -> "run"; "model" -> ".".
std::string BaseDirectory(const std::string& base);
