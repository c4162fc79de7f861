// The one way a model is loaded: by the run, by --check, by the result-file
// tools, by the fuzzer, the benchmarks and the tests.
#pragma once

#include <string>

class CSimulation;

// BASE.kvi.
std::string ModelFileName(const std::string& base);

// Reads BASE.kvi into s as a run reads it. Every failure is one of the run's
// exception classes whose detail ends with "(file BASE.kvi)"; a file that
// cannot be opened reads as a stream that failed at once.
void LoadModel(CSimulation& s, const std::string& base);
