#pragma once
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "scope/RecordingCsv.h"
#include "scope/SampleBuffer.h"
#include "scope/ScopeSetup.h"

// The figures a commissioning engineer reads off a setpoint step: how long the flow waits, how fast
// it follows, how far it overshoots and when it settles. The setpoint w is analog channel 1 and
// the flow y analog channel 2, both in percent; sample i belongs to time i x period.
//
// A step stands at sample k >= 1 where w moves by 5 % or more from one sample to the next; its
// span runs to the next step (exclusive) or the end of the recording. Levels: y0 is the mean flow
// over the 0.2 s before the step, y_end the mean over the last 20 % of the span (at least 5
// samples). T(p) is the time after the step at which the flow first reaches y0 + p (y_end - y0),
// interpolated between two samples. Dead time T(0.05), T63, T86, T98, rise time T(0.9) - T(0.1),
// overshoot beyond y_end in percent of the flow's change, settling time to within
// max(2 % of the change, 0.5 %), travel gain dy/dw and steady deviation w1 - y_end.

// Why a step has fewer figures.
enum class StepNote { None, SpanTooShort, NoResponse };

struct StepFigures {
    int sample = 0;  // k, the first sample of the span
    int spanEnd = 0; // one past the span's last sample
    double t0 = 0;
    double setpointFrom = 0, setpointTo = 0;
    std::optional<double> flowFrom, flowFinal;
    std::optional<double> deadTime, t63, t86, t98, riseTime;
    std::optional<double> overshootPct, peakTime, settlingTime;
    std::optional<bool> settled;
    std::optional<double> travelGain, deviationPct;
    StepNote note = StepNote::None;
};

// Steps closer than this to each other in setpoint are none.
constexpr double STEP_MIN_CHANGE = 5.0;
// A span shorter than this has no figures.
constexpr int STEP_MIN_SPAN = 25;
// A flow change smaller than this is no response.
constexpr double STEP_MIN_RESPONSE = 1.0;

// Every step of a recording with its figures. NaN and infinite samples are skipped; fewer than two
// samples, or a period that is not a positive number, give no steps.
std::vector<StepFigures> StepResponse(std::span<const float> setpoint, std::span<const float> flow,
                                      double period);

// Whether a set-up records what the figures need: the setpoint on analog channel 1 and the flow on
// analog channel 2 (signal 0 on both).
bool StepChannelsApply(const ScopeSetup& setup);

// The figures of a recording, as the window, printing and qln-cli show them.
struct RecordingSteps {
    double period = 0; // seconds; 0 when unknown (a CSV of fewer than two rows)
    int samples = 0;
    bool channelsApply = true; // false: no figures, as the channels show something else
    std::vector<StepFigures> steps;
};
// The recorded range of a buffer, at the period of the set-up's mode.
RecordingSteps StepsOfRecording(const SampleBuffer& buffer, const ScopeSetup& setup, RecordedRange range);
// A CSV says nothing of the signals: its channels always apply.
RecordingSteps StepsOfCsv(const CsvRecording& csv);

// The index of the step whose span holds sample `i`, or nothing before the first step.
std::optional<size_t> StepAtSample(const std::vector<StepFigures>& steps, int i);

// The note as the figures' tables and qln-cli write it: "", "span too short" or "no response".
const char* StepNoteText(StepNote note);
