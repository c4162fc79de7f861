// The base path a tool is given: the model's path without its extension.
#pragma once

#include <string>

// "run/model.kvi" (or .kvo, .kvt, .budget.csv, .obs.csv) is taken as
// "run/model"; anything else is kept as it is.
std::string StripResultExtension(const std::string& path);

// "run/model" -> "model".
std::string BaseStem(const std::string& base);

// "run/model" -> "run"; "model" -> ".".
std::string BaseDirectory(const std::string& base);

// The tables a run writes beside its records: "run/model.budget.csv" and
// "run/model.obs.csv".
std::string BudgetPath(const std::string& base);
std::string ObservationPath(const std::string& base);
