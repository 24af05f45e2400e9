// The step figures of a full recording: 5000 samples at 4 ms with a step every second, the flow a
// first-order response with a little noise.
//
//   BM_StepResponse   goal: under 1 ms
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "scope/StepResponse.h"

namespace {
void BM_StepResponse(benchmark::State& state) {
    std::vector<float> w(5000), y(5000);
    for (size_t i = 0; i < w.size(); ++i) {
        const double t = static_cast<double>(i) * 0.004, since = std::fmod(t, 1.0);
        const bool high = static_cast<int>(t) % 2 == 1;
        w[i] = high ? 90.0f : 10.0f;
        const double from = high ? 10 : 90, to = high ? 90 : 10;
        y[i] = static_cast<float>(to + (from - to) * std::exp(-since / 0.2) + (i % 2 ? 0.4 : -0.4));
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(StepResponse(w, y, 0.004));
}
BENCHMARK(BM_StepResponse)->Unit(benchmark::kMicrosecond);
} // namespace
