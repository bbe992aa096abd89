// txsim: plays transmitter modules on a pseudo-terminal of its own.
// The first stdout line is "PTY <slave path>"; control lines are read from stdin
// and each is answered by one line starting with OK or ERR.

#include "ControlText.h"
#include "Simulator.h"

#include <cstdio>
#include <limits>
#include <string>

namespace
{

constexpr int ExitUsage = 2;
constexpr int ExitNoTerminal = 1;
constexpr long long MaxAddress = 255;
constexpr long long MaxMilliseconds = 3600000;
constexpr double MaxAutoRateHz = 1e6;
constexpr long long MaxBaud = 4000000;
constexpr long long MaxAnswerDelayMs = 600000;

const char UsageText[] =
    "usage: txsim [options]\n"
    "  --address N      play a module at bus address N (repeatable; default one module at 1)\n"
    "  --modules N      play modules at addresses 1..N (besides those of --address)\n"
    "  --baud B         pace the replies like a line at B baud (10 bits a byte; default: at once)\n"
    "  --answer-delay MS  every module answers MS ms after the request (as \"fault late MS\")\n"
    "  --link PATH      create a symbolic link PATH to the pseudo-terminal (removed on exit)\n"
    "  --exit-on-eof    exit when stdin ends (default: keep running)\n"
    "  --auto-rate HZ   values per second in automatic sending (default 10)\n"
    "  --seed N         seed of the AD noise (default 1)\n"
    "  --load N         initial AD code of every module (default 0)\n"
    "  --noise A        initial AD noise of +-A counts (default 0)\n"
    "  --log            start with the traffic log on (RX/TX lines)\n"
    "  --frame-gap MS   give up an incomplete frame after MS quiet ms (default 100)\n"
    "control lines on stdin: ";

int Usage(const std::string &problem)
{
    if (!problem.empty())
        std::fprintf(stderr, "txsim: %s\n", problem.c_str());
    std::fprintf(stderr, "%s%s\n", UsageText, ControlHelpText);
    return ExitUsage;
}

} // namespace

int main(int argc, char **argv)
{
    SimulatorOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const auto needValue = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        long long number = 0;
        if (option == "--help" || option == "-h") {
            Usage({});
            return 0;
        }
        if (option == "--exit-on-eof") {
            options.exitOnEof = true;
        } else if (option == "--log") {
            options.log = true;
        } else if (option == "--link") {
            const char *value = needValue();
            if (!value || !*value)
                return Usage("--link needs a path");
            options.linkPath = value;
        } else if (option == "--address") {
            const char *value = needValue();
            if (!value || !ParseInteger(value, 0, MaxAddress, number))
                return Usage("--address needs 0..255");
            options.addresses.push_back(static_cast<DeviceAddress>(number));
        } else if (option == "--modules") {
            const char *value = needValue();
            if (!value || !ParseInteger(value, 1, MaxAddress, number))
                return Usage("--modules needs 1..255");
            for (long long address = 1; address <= number; ++address)
                options.addresses.push_back(static_cast<DeviceAddress>(address));
        } else if (option == "--baud") {
            const char *value = needValue();
            if (!value || !ParseInteger(value, 1, MaxBaud, number))
                return Usage("--baud needs 1..4000000");
            options.baud = static_cast<int>(number);
        } else if (option == "--answer-delay") {
            const char *value = needValue();
            if (!value || !ParseInteger(value, 0, MaxAnswerDelayMs, number))
                return Usage("--answer-delay needs 0..600000 ms");
            options.answerDelayMs = static_cast<int>(number);
        } else if (option == "--auto-rate") {
            const char *value = needValue();
            if (!value || !ParseDouble(value, 0, MaxAutoRateHz, options.autoRateHz))
                return Usage("--auto-rate needs 0..1000000");
        } else if (option == "--seed") {
            const char *value = needValue();
            if (!value || !ParseInteger(value, 0, std::numeric_limits<std::uint32_t>::max(), number))
                return Usage("--seed needs a non-negative integer");
            options.seed = static_cast<std::uint32_t>(number);
        } else if (option == "--load") {
            const char *value = needValue();
            if (!value || !ParseInt32(value, number))
                return Usage("--load needs a 32-bit integer");
            options.load = static_cast<std::int32_t>(number);
        } else if (option == "--noise") {
            const char *value = needValue();
            if (!value || !ParseInteger(value, 0, std::numeric_limits<std::int32_t>::max(), number))
                return Usage("--noise needs 0 or more");
            options.noise = static_cast<std::int32_t>(number);
        } else if (option == "--frame-gap") {
            const char *value = needValue();
            if (!value || !ParseInteger(value, 1, MaxMilliseconds, number))
                return Usage("--frame-gap needs 1..3600000 ms");
            options.frameGapMs = static_cast<int>(number);
        } else {
            return Usage("unknown option " + option);
        }
    }

    Simulator simulator(std::move(options));
    std::string error;
    if (!simulator.openTerminal(error)) {
        std::fprintf(stderr, "txsim: %s\n", error.c_str());
        return ExitNoTerminal;
    }
    return simulator.run();
}
