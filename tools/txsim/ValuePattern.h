#pragma once
// How a simulated module's load moves by itself over time, on top of the load
// it is given: constant, a sine around it, a saw-tooth ramp up from it, or a
// staircase of steps up from it. Several modules on one line each get a
// pattern of their own, so a value can be told apart by the module it came from.

#include <cstdint>
#include <string>
#include <vector>

struct ValuePattern {
    enum class Shape { Constant, Sine, Ramp, Steps };

    Shape shape = Shape::Constant;
    /// Sine: the peak; ramp: the span climbed in one period; steps: the height of one step.
    std::int32_t amplitude = 0;
    /// Sine and ramp: one period; steps: how long each step lasts.
    std::int64_t periodMs = 1;
    /// Steps: how many steps (0, 1 .. count - 1 times the height) before it starts again.
    std::int64_t stepCount = 1;

    /// What is added to the load `elapsedUs` microseconds after the pattern was set.
    std::int64_t offsetAt(std::int64_t elapsedUs) const;

    /// Reads "constant", "sine AMP PERIOD_MS", "ramp SPAN PERIOD_MS" or
    /// "steps HEIGHT PERIOD_MS COUNT" from `words` (the first word is the
    /// shape). False, with `error` set, for anything else.
    static bool Parse(const std::vector<std::string> &words, ValuePattern &pattern, std::string &error);
};
