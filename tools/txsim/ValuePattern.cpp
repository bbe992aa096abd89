#include "ValuePattern.h"

#include "ControlText.h"

#include <cmath>
#include <limits>
#include <numbers>

namespace
{
constexpr long long MaxPeriodMs = 86400000; // a day
constexpr long long MaxStepCount = 1000000;
constexpr std::int64_t MicrosecondsPerMs = 1000;
} // namespace

std::int64_t ValuePattern::offsetAt(std::int64_t elapsedUs) const
{
    const std::int64_t periodUs = periodMs * MicrosecondsPerMs;
    const std::int64_t phaseUs = elapsedUs % periodUs;
    switch (shape) {
    case Shape::Constant:
        return 0;
    case Shape::Sine:
        return std::llround(amplitude * std::sin(2 * std::numbers::pi * double(phaseUs) / double(periodUs)));
    case Shape::Ramp:
        return std::int64_t(double(amplitude) * double(phaseUs) / double(periodUs));
    case Shape::Steps:
        return std::int64_t(amplitude) * ((elapsedUs / periodUs) % stepCount);
    }
    return 0;
}

bool ValuePattern::Parse(const std::vector<std::string> &words, ValuePattern &pattern, std::string &error)
{
    error = "pattern constant | sine AMP PERIOD_MS | ramp SPAN PERIOD_MS | steps HEIGHT PERIOD_MS COUNT";
    if (words.empty())
        return false;
    ValuePattern parsed;
    long long amplitude = 0;
    long long period = 0;
    const std::string &shape = words[0];
    if (shape == "constant" && words.size() == 1) {
        pattern = parsed;
        return true;
    }
    const bool sized =
        (shape == "sine" || shape == "ramp") ? words.size() == 3 : shape == "steps" && words.size() == 4;
    if (!sized || !ParseInt32(words[1], amplitude) || !ParseInteger(words[2], 1, MaxPeriodMs, period))
        return false;
    parsed.amplitude = static_cast<std::int32_t>(amplitude);
    parsed.periodMs = period;
    if (shape == "sine") {
        parsed.shape = Shape::Sine;
    } else if (shape == "ramp") {
        parsed.shape = Shape::Ramp;
    } else {
        long long count = 0;
        if (!ParseInteger(words[3], 1, MaxStepCount, count))
            return false;
        parsed.stepCount = count;
        parsed.shape = Shape::Steps;
    }
    pattern = parsed;
    return true;
}
