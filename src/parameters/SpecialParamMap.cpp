#include "parameters/SpecialParamMap.h"

#include <cmath>
#include <limits>

namespace SpecialParams
{

namespace
{
constexpr std::int32_t Int32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();

/// Rounded to the nearest integer (halves away from zero) and held within the
/// 32-bit range.
std::int32_t RoundToInt32(long double value)
{
    if (std::isnan(value))
        return 0;
    if (value <= static_cast<long double>(Int32Min))
        return Int32Min;
    if (value >= static_cast<long double>(Int32Max))
        return Int32Max;
    return static_cast<std::int32_t>(std::llround(value));
}
} // namespace

FieldInfo Describe(Field field)
{
    switch (field) {
    case Field::InputType:
        return {Encoding::RangedItem, InputTypeItems};
    case Field::OutputBoardType:
        return {Encoding::RangedItem, OutputBoardTypeItems};
    case Field::ADCSpeed:
        return {Encoding::RangedItem, ADCSpeedItems};
    case Field::AM1:
    case Field::AM2:
        return {Encoding::UnrangedItem, ControlModeItems};
    case Field::OutMode:
        return {Encoding::OutModeItem, OutModeItems};
    case Field::VoltageOutputScale:
    case Field::CurrentOutputScale:
        return {Encoding::Scale, 0};
    case Field::FilterLevel:
        return {Encoding::FilterLevel, 0};
    default:
        return {Encoding::Integer, 0};
    }
}

ReadTargets ReadTargetsFor(CommandCode code)
{
    switch (code) {
    case CmdInputType:
        return {Field::InputType};
    case CmdOutputBoardType:
        return {Field::OutputBoardType};
    case CmdADCSpeed:
        return {Field::ADCSpeed};
    case CmdAL1:
        return {Field::AL1, Field::OutputRangeLow};
    case CmdAH1:
        return {Field::AH1, Field::OutputRangeHigh};
    case CmdAM1:
        return {Field::AM1, Field::VoltageOutputScale};
    case CmdAL2:
        return {Field::AL2, Field::VoltageOutputOffset};
    case CmdAH2:
        return {Field::AH2, Field::CurrentOutputScale};
    case CmdAM2:
        return {Field::AM2, Field::CurrentOutputOffset};
    case CmdControlCode:
        return {Field::ControlCode};
    case CmdOutMode:
        return {Field::OutMode};
    case CmdOutDSP(1):
        return {Field::OutDSP1};
    case CmdOutVAL(1):
        return {Field::OutVAL1};
    case CmdOutDSP(2):
        return {Field::OutDSP2};
    case CmdOutVAL(2):
        return {Field::OutVAL2};
    case CmdOutDSP(3):
        return {Field::OutDSP3};
    case CmdOutVAL(3):
        return {Field::OutVAL3};
    case CmdStepON:
        return {Field::StepON};
    case CmdStepOFF:
        return {Field::StepOFF};
    case CmdFilterLevel:
        return {Field::FilterLevel};
    case CmdFilterBand:
        return {Field::FilterBand};
    default:
        return {};
    }
}

Field OutputFieldFor(CommandCode code)
{
    switch (code) {
    case CmdAL1:
        return Field::OutputRangeLow;
    case CmdAH1:
        return Field::OutputRangeHigh;
    case CmdAM1:
        return Field::VoltageOutputScale;
    case CmdAL2:
        return Field::VoltageOutputOffset;
    case CmdAH2:
        return Field::CurrentOutputScale;
    case CmdAM2:
        return Field::CurrentOutputOffset;
    default:
        return Field::None;
    }
}

Field WriteSourceFor(CommandCode code, int boardType)
{
    if (code < FirstOutputCommand || code > LastOutputCommand)
        return ReadTargetsFor(code).first;
    switch (boardType) {
    case BoardRelay:
        return ReadTargetsFor(code).first;
    case BoardVoltageOutput:
        // Range low/high, voltage scale and offset; 32 and 33 have none.
        return code <= CmdAL2 ? OutputFieldFor(code) : Field::None;
    case BoardCurrentOutput:
        // Range low/high, current scale and offset; 30 and 31 have none.
        return (code == CmdAM1 || code == CmdAL2) ? Field::None : OutputFieldFor(code);
    default:
        return Field::None;
    }
}

std::optional<int> DecodeRangedItem(std::int32_t value, int items)
{
    if (value < 0 || value >= items)
        return std::nullopt;
    return int(value);
}

int DecodeUnrangedItem(std::int32_t value, int items)
{
    if (value < 0)
        return NoItem;
    return value >= items ? items - 1 : int(value);
}

int DecodeOutModeItem(std::int32_t value, int items)
{
    const int item = DecodeUnrangedItem(value, items);
    return item == NoItem ? 0 : item;
}

double DecodeScale(std::int32_t value)
{
    return double(value) / ScaleFactor;
}

std::int32_t EncodeScale(double scale)
{
    return RoundToInt32(static_cast<long double>(scale) * static_cast<long double>(ScaleFactor));
}

std::int32_t EncodeInteger(double value)
{
    return RoundToInt32(static_cast<long double>(value));
}

int ClampFilterLevel(std::int32_t value)
{
    return value < FilterLevelMinimum ? FilterLevelMinimum
                                      : (value > FilterLevelMaximum ? FilterLevelMaximum : int(value));
}

std::int32_t FilterLevelFromText(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : 0;
}

int ProgressPercent(int completed, int total)
{
    if (total <= 0)
        return 0;
    return int(std::lround(100.0 * completed / total));
}

void KnownRegisters::set(CommandCode code, std::int32_t value)
{
    if (IsSpecialParam(code))
        m_values[RegisterIndex(code)] = value;
}

std::optional<std::int32_t> KnownRegisters::get(CommandCode code) const
{
    if (!IsSpecialParam(code))
        return std::nullopt;
    return m_values[RegisterIndex(code)];
}

} // namespace SpecialParams
