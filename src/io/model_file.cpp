#include "io/model_file.h"

#include "io/reader.h"
#include "model/exceptions.h"

#include <fstream>

std::string ModelFileName(const std::string& base) {
    return base + ".kvi";
}

void LoadModel(CSimulation& s, const std::string& base) {
    // Opening for reading never creates the file. A file that cannot be opened
    // leaves the stream failed for the reader.
    const std::string path = ModelFileName(base);
    std::ifstream in(path);
    try {
        ReadInput(s, in);
    } catch (Exception& e) {
        e.AddWhere("(file " + path + ")");
        throw;
    }
}
