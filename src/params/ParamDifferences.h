#pragma once
#include <string>
#include <vector>

#include "params/ParameterBlock.h"

// The parameters in which two sets differ, as the parameter editor shows them: every field a write
// sends, each value in its display format. qln-cli's diff commands and the desktop's valve history
// list the same names and numbers.
struct Difference {
    const char* name;          // the parameter's name in the description table
    std::string first, second; // the first set's value and the second's
};
std::vector<Difference> Differences(const ParameterBlock& first, const ParameterBlock& second);
