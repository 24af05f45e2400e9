#pragma once
#include <string>
#include <vector>

#include "scope/ScopeMath.h"
#include "scope/StepResponse.h"

// The step figures as the scope view's table and the printed page show them, and where the view
// marks them on the flow curve. Labels and notes are text ids; numbers are formatted here, with a
// '.' whatever the user's locale.

// A number with `decimals` decimals and a '.', "--" for NaN or infinity.
std::string FigureText(double v, int decimals);

// One figure: its label, and its value (a text id where the value is a word such as "not settled").
struct StepCell {
    int labelId;
    std::string value;
    int valueId = 0;
};
// t0, setpoint, flow, dead time, T63, T86, T98, rise time, overshoot, settling time, travel gain and
// deviation, each "--" where it does not apply.
std::vector<StepCell> StepCells(const StepFigures& f);
// The text id of a step's note ("span too short", "no response"), or 0.
int StepNoteId(StepNote note);

// A mark on the flow curve: a buffer sample position (fractional) and the flow there, in percent.
struct StepMark {
    double sample;
    double value;
};
// Dead time, T63, T86 and the settling point of every step whose figures have them; `first` is
// the buffer index of the analysed range's first sample.
std::vector<StepMark> StepMarks(const RecordingSteps& r, int first);
// The x of a mark in the plot's logical space (outside 430..1130 when the window does not show it).
double StepMarkX(const ScopeWindow& w, double sample);
