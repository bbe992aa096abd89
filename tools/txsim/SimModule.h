#pragma once
// One simulated transmitter module: its bus address, its general and special
// parameters, the raw AD code that follows the load on its sensor, the measured
// value computed from the calibration table, and the faults a test can switch on.

#include "ValuePattern.h"
#include "device/Protocol.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <random>

enum class FrameKind { Query, Data };

/// A request frame as it arrived on the line (check byte and end byte already verified).
struct RequestFrame {
    FrameKind kind = FrameKind::Query;
    DeviceAddress address = 0;
    CommandCode command = 0;
    std::int32_t value = 0;
};

/// Misbehaviour a test can switch on per module.
struct ModuleFaults {
    bool silent = false;                       ///< process requests, never answer
    int lateMs = 0;                            ///< answer this many ms late (0: at once)
    std::optional<CommandCode> replaceCommand; ///< answer with this command byte
    int strayBytes = 0;                        ///< bytes without "=" sent before each reply
    bool badCheck = false;                     ///< corrupt the check byte of each reply
    bool noise = false;            ///< a reply-like frame with a wrong check byte before each reply
    std::bitset<256> mutedQueries; ///< no reply to a query frame with this code
    std::bitset<256> mutedData;    ///< no reply to a data frame with this code
};

/// What handling one request did.
struct RequestOutcome {
    std::optional<Reply> reply; ///< the reply before faults are applied
    bool stored = false;        ///< CmdStore was received
    bool autoSendStarted = false;
};

inline constexpr std::int32_t DefaultPointCount = 2;
inline constexpr std::int32_t DefaultFullScale = 1000000;
inline constexpr std::int32_t DefaultOutputScale = 10000; ///< analog output scale 1.0000
inline constexpr int MaxCommandCode = CmdLast;

/// True for the codes that name a stored parameter (2..22 and 25..45).
constexpr bool IsParameterCode(int code)
{
    return (code >= FirstGeneralParam && code <= LastGeneralParam) ||
           (code >= FirstSpecialParam && code <= LastSpecialParam);
}

class SimModule
{
public:
    SimModule(DeviceAddress address, std::uint32_t seed);

    DeviceAddress address() const { return m_address; }
    /// True when a frame sent to `target` reaches this module.
    bool isAddressedBy(DeviceAddress target) const
    {
        return target == BroadcastAddress || target == m_address;
    }

    /// Handles one request that reaches this module (see isAddressedBy).
    RequestOutcome handle(const RequestFrame &frame);

    /// Parameter `code` (2..22, 25..45); DN is the bus address.
    std::int32_t parameter(CommandCode code) const { return m_params[code]; }
    /// Stores parameter `code`; writing DN moves the module to address value & 0xFF.
    void setParameter(CommandCode code, std::int32_t value);

    void setLoad(std::int32_t adCode) { m_load = adCode; }
    std::int32_t load() const { return m_load; }
    /// The load's own movement (constant unless set), timed from `patternTime`.
    void setPattern(const ValuePattern &pattern) { m_pattern = pattern; }
    const ValuePattern &pattern() const { return m_pattern; }
    /// How long the pattern has run, in microseconds; set before each sample.
    void setPatternTime(std::int64_t elapsedUs) { m_patternUs = elapsedUs; }
    /// The load with the pattern's offset at the pattern time.
    std::int32_t currentLoad() const;
    void setNoise(std::int32_t amplitude) { m_noise = amplitude < 0 ? 0 : amplitude; }
    std::int32_t noise() const { return m_noise; }

    /// AD code as sampled now: the current load plus uniform noise of +-noise counts.
    std::int32_t sampleAdCode();
    /// Measured value for an AD code: the calibration table interpolated, minus ZerO.
    std::int32_t measuredValue(std::int32_t adCode) const;

    bool autoSending() const { return m_autoSending; }
    void setAutoSending(bool on) { m_autoSending = on; }

    ModuleFaults &faults() { return m_faults; }
    const ModuleFaults &faults() const { return m_faults; }
    /// True when the reply to `frame` is muted by a fault.
    bool isMuted(const RequestFrame &frame) const;

private:
    DeviceAddress m_address = 1;
    std::array<std::int32_t, MaxCommandCode + 1> m_params{};
    std::int32_t m_load = 0;
    ValuePattern m_pattern;
    std::int64_t m_patternUs = 0;
    std::int32_t m_noise = 0;
    bool m_autoSending = false;
    ModuleFaults m_faults;
    std::mt19937 m_random;
};
