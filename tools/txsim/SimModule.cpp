#include "SimModule.h"

#include <algorithm>
#include <limits>

namespace
{

// Special parameters of a module fresh from the factory: strain-gauge input,
// no output board, normal AD speed, output range 0..1000000, output scales 1.0000,
// a linear special output curve and a medium filter.
constexpr std::int32_t DefaultOutputRangeHigh = 1000000;
constexpr std::int32_t DefaultCurveMid = 500000;
constexpr std::int32_t DefaultStepTime = 100;
constexpr std::int32_t DefaultFilterLevel = 2;
constexpr std::int32_t DefaultFilterBand = 100;
constexpr std::int32_t StoreAcknowledgeValue = 0;
constexpr std::int32_t AddressMask = 0xFF;

std::int32_t ClampToInt32(std::int64_t value)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

} // namespace

SimModule::SimModule(DeviceAddress address, std::uint32_t seed) : m_address(address), m_random(seed)
{
    m_params[CmdDN] = address;
    m_params[CmdZerO] = 0;
    m_params[CmdPointCount] = DefaultPointCount;
    m_params[CmdAVP(1)] = 0;
    m_params[CmdPVP(1)] = 0;
    m_params[CmdAVP(2)] = DefaultFullScale;
    m_params[CmdPVP(2)] = DefaultFullScale;

    m_params[CmdAH1] = DefaultOutputRangeHigh;
    m_params[CmdAM1] = DefaultOutputScale;
    m_params[CmdAH2] = DefaultOutputScale;
    m_params[CmdOutDSP(2)] = DefaultCurveMid;
    m_params[CmdOutVAL(2)] = DefaultCurveMid;
    m_params[CmdOutDSP(3)] = DefaultFullScale;
    m_params[CmdOutVAL(3)] = DefaultFullScale;
    m_params[CmdStepON] = DefaultStepTime;
    m_params[CmdStepOFF] = DefaultStepTime;
    m_params[CmdFilterLevel] = DefaultFilterLevel;
    m_params[CmdFilterBand] = DefaultFilterBand;
}

void SimModule::setParameter(CommandCode code, std::int32_t value)
{
    if (!IsParameterCode(code))
        return;
    if (code == CmdDN) {
        m_address = static_cast<DeviceAddress>(value & AddressMask);
        m_params[CmdDN] = m_address;
        return;
    }
    m_params[code] = value;
}

std::int32_t SimModule::currentLoad() const
{
    return ClampToInt32(std::int64_t(m_load) + m_pattern.offsetAt(m_patternUs));
}

std::int32_t SimModule::sampleAdCode()
{
    const std::int32_t load = currentLoad();
    if (m_noise == 0)
        return load;
    std::uniform_int_distribution<std::int32_t> offset(-m_noise, m_noise);
    return ClampToInt32(std::int64_t(load) + offset(m_random));
}

std::int32_t SimModule::measuredValue(std::int32_t adCode) const
{
    const int points = std::clamp<std::int32_t>(m_params[CmdPointCount], 0, CalibrationPointCount);
    const auto av = [this](int i) { return std::int64_t(m_params[CmdAVP(i + 1)]); };
    const auto pv = [this](int i) { return std::int64_t(m_params[CmdPVP(i + 1)]); };
    const std::int64_t ad = adCode;

    std::int64_t value = ad;
    if (points == 1) {
        value = pv(0) + (ad - av(0));
    } else if (points >= 2) {
        // The segment that holds the AD code; outside the table the end segment
        // on that side is extended. Segments with equal input values are skipped.
        int segment = -1;
        int firstUsable = -1;
        int lastUsable = -1;
        for (int k = 0; k + 1 < points; ++k) {
            if (av(k) == av(k + 1))
                continue;
            if (firstUsable < 0)
                firstUsable = k;
            lastUsable = k;
            if (segment < 0 && ad >= std::min(av(k), av(k + 1)) && ad <= std::max(av(k), av(k + 1)))
                segment = k;
        }
        if (segment < 0 && firstUsable >= 0) {
            const std::int64_t toFirst = ad > av(0) ? ad - av(0) : av(0) - ad;
            const std::int64_t toLast = ad > av(points - 1) ? ad - av(points - 1) : av(points - 1) - ad;
            segment = toFirst <= toLast ? firstUsable : lastUsable;
        }
        if (segment < 0) {
            value = pv(0);
        } else {
            // 128-bit product: input and output spans may each take 33 bits.
            const __int128 product = __int128(ad - av(segment)) * (pv(segment + 1) - pv(segment));
            value = pv(segment) + static_cast<std::int64_t>(product / (av(segment + 1) - av(segment)));
        }
    }
    return ClampToInt32(value - m_params[CmdZerO]);
}

bool SimModule::isMuted(const RequestFrame &frame) const
{
    return frame.kind == FrameKind::Query ? m_faults.mutedQueries.test(frame.command)
                                          : m_faults.mutedData.test(frame.command);
}

RequestOutcome SimModule::handle(const RequestFrame &frame)
{
    RequestOutcome outcome;
    const CommandCode command = frame.command;
    const auto answer = [&](std::int32_t value) { outcome.reply = Reply{m_address, command, value}; };

    if (command == CmdReadAdCode) {
        answer(sampleAdCode());
    } else if (command == CmdReadValue) {
        answer(measuredValue(sampleAdCode()));
    } else if (command == CmdAutoSend) {
        outcome.autoSendStarted = !m_autoSending;
        m_autoSending = true;
    } else if (command == CmdStore) {
        outcome.stored = true;
        answer(StoreAcknowledgeValue);
    } else if (IsParameterCode(command)) {
        if (frame.kind == FrameKind::Data) {
            setParameter(command, frame.value); // a new DN answers from the new address
            answer(frame.value);
        } else {
            answer(m_params[command]);
        }
    }
    // Codes above the table: no reply.
    return outcome;
}
