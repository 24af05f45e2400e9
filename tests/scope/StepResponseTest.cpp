// Step figures against closed forms: a first-order response with dead time, a second-order one,
// falling and repeated steps, a response too slow to settle, noise and samples that are no numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "scope/StepResponse.h"

namespace {
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
// What the valve sends: 8 bits for 0..100 %.
double Quantized(double v) {
    return std::round(v * 2.55) / 2.55;
}
// θ = 0.1 s dead time, τ = 0.2 s.
double FirstOrder(double from, double to, double t) {
    return t < 0.1 ? from : to + (from - to) * std::exp(-(t - 0.1) / 0.2);
}
// Damping 0.5, natural frequency 20 /s.
double SecondOrder(double t) {
    const double z = 0.5, wn = 20.0, wd = wn * std::sqrt(1 - z * z);
    return 10 + 80 * (1 - std::exp(-z * wn * t) *
                              (std::cos(wd * t) + z / std::sqrt(1 - z * z) * std::sin(wd * t)));
}
struct Recording {
    std::vector<float> w, y;
};
// `count` samples: the setpoint `w(t)`, the flow `y(t, seconds since the last step)`.
Recording Make(int count, double period, const std::function<double(double)>& w,
               const std::function<double(double)>& y) {
    Recording r;
    for (int i = 0; i < count; ++i) {
        r.w.push_back(static_cast<float>(w(i * period)));
        r.y.push_back(static_cast<float>(y(i * period)));
    }
    return r;
}
double Ln(double x) {
    return std::log(x);
}
} // namespace

TEST(StepResponse, FiguresFollowTheClosedForms) {
    // 10 % and 90 % as the valve sends them.
    const double p = 0.004, lo = Quantized(10), hi = Quantized(90);
    auto w = [=](double t) { return t < 1 ? lo : hi; };
    const Recording rising = Make(2000, p, w, [=](double t) { return Quantized(FirstOrder(lo, hi, t - 1)); });
    const Recording falling = Make(
        2000, p, [=](double t) { return t < 1 ? hi : lo; },
        [=](double t) { return Quantized(FirstOrder(hi, lo, t - 1)); });
    // One quantization step of noise, alternating from sample to sample.
    const Recording noisy = Make(2000, p, w, [=](double t) {
        return Quantized(FirstOrder(lo, hi, t - 1)) + (std::lround(t / 0.004) % 2 ? 1 : -1) / 2.55;
    });
    for (const Recording* r : {&rising, &falling, &noisy}) {
        // A crossing moves by the value's error (half a quantization step, and the noise) over the
        // curve's slope there, and by up to one sample period.
        const double error = (r == &noisy ? 1.5 : 0.5) / 2.55;
        auto slack = [error](double fraction) { return 0.004 + error / (80 * (1 - fraction) / 0.2); };
        const std::vector<StepFigures> s = StepResponse(r->w, r->y, p);
        ASSERT_EQ(s.size(), 1u);
        EXPECT_DOUBLE_EQ(s[0].t0, 1.0);
        EXPECT_NEAR(*s[0].deadTime, 0.1 + 0.2 * Ln(1 / 0.95), slack(0.05));
        EXPECT_NEAR(*s[0].t63, 0.1 + 0.2 * Ln(1 / 0.368), slack(0.632));
        EXPECT_NEAR(*s[0].t86, 0.1 + 0.2 * Ln(1 / 0.135), slack(0.865));
        EXPECT_NEAR(*s[0].t98, 0.1 + 0.2 * Ln(1 / 0.02), slack(0.98));
        EXPECT_NEAR(*s[0].riseTime, 0.2 * Ln(9), 2 * slack(0.9));
        EXPECT_NEAR(*s[0].settlingTime, 0.1 + 0.2 * Ln(1 / 0.02), slack(0.98));
        EXPECT_NEAR(*s[0].overshootPct, r == &noisy ? 100 / 2.55 / 80 : 0.0, 0.01);
        EXPECT_NEAR(*s[0].travelGain, 1.0, 0.01);
        EXPECT_NEAR(*s[0].deviationPct, 0.0, 0.3);
        EXPECT_TRUE(*s[0].settled);
        EXPECT_EQ(s[0].note, StepNote::None);
    }
}

TEST(StepResponse, SecondOrderOvershootAndPeak) {
    const Recording r = Make(
        1500, 0.004, [](double t) { return t < 1 ? 10 : 90; },
        [](double t) { return t < 1 ? 10 : SecondOrder(t - 1); });
    const std::vector<StepFigures> s = StepResponse(r.w, r.y, 0.004);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_NEAR(*s[0].overshootPct, 100 * std::exp(-M_PI * 0.5 / std::sqrt(0.75)), 0.1);
    EXPECT_NEAR(*s[0].peakTime, M_PI / (20 * std::sqrt(0.75)), 0.004);
}

TEST(StepResponse, TwoStepsSlowResponsesShortSpansAndNoNumbers) {
    // A roll recording at 10 ms: up at 2 s, down at 6 s, and a last step 0.1 s before the end.
    auto w = [](double t) { return t < 2 ? 20 : t < 6 ? 60 : t < 7.9 ? 20 : 50; };
    Recording r = Make(800, 0.01, w, [](double t) {
        return t < 2 ? 20 : t < 6 ? FirstOrder(20, 60, t - 2) : FirstOrder(60, 20, t - 6);
    });
    r.w[100] = r.y[301] = std::numeric_limits<float>::infinity();
    r.y[300] = static_cast<float>(NaN);
    std::vector<StepFigures> s = StepResponse(r.w, r.y, 0.01);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_DOUBLE_EQ(s[1].t0, 6.0);
    EXPECT_DOUBLE_EQ(s[1].setpointFrom, 60);
    EXPECT_NEAR(*s[0].t63, 0.1 + 0.2 * Ln(1 / 0.368), 0.01);
    EXPECT_NEAR(*s[1].t63, 0.1 + 0.2 * Ln(1 / 0.368), 0.01);
    EXPECT_NEAR(*s[0].overshootPct, 0.0, 0.01);
    EXPECT_NEAR(*s[1].travelGain, 1.0, 0.01);
    EXPECT_EQ(s[2].note, StepNote::SpanTooShort);
    EXPECT_FALSE(s[2].flowFrom || s[2].t63 || s[2].settled);
    EXPECT_EQ(StepAtSample(s, 650), 1u);
    EXPECT_FALSE(StepAtSample(s, 199));

    // τ = 5 s in a 4 s span never settles; a flow that does not move is no response.
    r = Make(
        1000, 0.004, [](double t) { return t < 1 ? 10 : 90; },
        [](double t) { return t < 1 ? 10 : 90 - 80 * std::exp(-(t - 1) / 5); });
    s = StepResponse(r.w, r.y, 0.004);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_FALSE(*s[0].settled);
    EXPECT_FALSE(s[0].settlingTime);
    r.y.assign(1000, 30.0f);
    s = StepResponse(r.w, r.y, 0.004);
    EXPECT_EQ(s[0].note, StepNote::NoResponse);
    EXPECT_NEAR(*s[0].deviationPct, 60.0, 1e-4);
    EXPECT_FALSE(s[0].deadTime || s[0].overshootPct || s[0].settled);

    // Nothing to compare: no samples, one, all NaN, a period of 0.
    EXPECT_TRUE(StepResponse({}, {}, 0.004).empty());
    EXPECT_TRUE(StepResponse(std::vector<float>{10}, std::vector<float>{10}, 0.004).empty());
    std::vector<float> nan(100, static_cast<float>(NaN));
    EXPECT_TRUE(StepResponse(nan, nan, 0.004).empty());
    EXPECT_TRUE(StepResponse(r.w, r.y, 0.0).empty());
    nan.resize(r.w.size(), static_cast<float>(NaN));
    s = StepResponse(r.w, nan, 0.004);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].note, StepNote::NoResponse);
    EXPECT_FALSE(s[0].flowFrom);
}
