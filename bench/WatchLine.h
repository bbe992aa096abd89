#pragma once
// The line both watch benchmarks play: 32 modules on the simulator, each on a
// sine around a load that names it (module a around a * LoadStep), so that a
// value given to the wrong module shows.

#include "TxSim.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

namespace WatchLine
{
constexpr int Modules = 32;
constexpr int Baud = 115200;
constexpr int AnswerMs = 1;
constexpr int QueryAndReplyBytes = 5 + 9;
constexpr int BitsPerByte = 10;
constexpr std::int32_t LoadStep = 10000;
constexpr std::int32_t SineAmplitude = 2000;
constexpr int RunMs = 10000;
constexpr int SlowIntervalMs = 100;

/// Makes module `address` of the simulator play its load.
inline void LoadModule(TxSim &sim, int address)
{
    sim.ok(QStringLiteral("module %1").arg(address));
    sim.ok(QStringLiteral("load %1").arg(address * LoadStep));
    sim.ok(QStringLiteral("pattern sine %1 %2").arg(SineAmplitude).arg(1000 + 37 * address));
}

/// Whether `raw`, read for the module at `index` (0-based), is not its own.
inline bool Misassigned(int index, std::int32_t raw)
{
    return std::abs(raw - (index + 1) * LoadStep) > SineAmplitude;
}

/// One query and its reply on the wire plus the answer time, in ms (baud 0:
/// the answer time only, a pseudo-terminal without a wire's pace).
inline double ExchangeMs(int baud, int answerMs)
{
    return (baud > 0 ? 1000.0 * QueryAndReplyBytes * BitsPerByte / baud : 0) + answerMs;
}
} // namespace WatchLine
