#pragma once
#include <string>
#include <vector>

#include "params/ParameterTable.h"

// A value a parameter write would send although the table does not allow it: a damaged project,
// a file of the wrong kind, a settings file typed by hand. A valve must never take such a value
// unnoticed (a current limit of 0 mA, an output mode of 231).
struct RangeProblem {
    const ParameterDescription* field;
    std::string value;   // as the block holds it ("0", "nan", "231")
    std::string allowed; // "100 to 2000 mA", "0 to 1"
};

// Every field a parameter write sends (not SLAVE_GAIN, not the auto zero values the valve only
// reports) whose value lies outside its limits or its choice list, in table order. Floats get a
// tolerance of a thousandth of a step, so 0.01 stored as a float is not refused as below 0.01.
std::vector<RangeProblem> CheckWrittenFields(const ParameterBlock& b);

// "CURRENT_LIMIT_LEVEL is 0, allowed 100 to 2000 mA"
std::string DescribeProblem(const RangeProblem& p);
