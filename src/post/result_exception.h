// The failure of a post-processing tool: a result or model file that cannot be
// used, or a request that does not fit the run. The detail names the file (or
// the option) and what is wrong with it; the tools print it and exit 1.
#pragma once

#include "model/exceptions.h"

class ResultException : public Exception {
public:
    using Exception::Exception;
};
