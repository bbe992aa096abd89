#pragma once
// The special parameters (commands 25..45): which control each command fills
// on a read and which control supplies it on a write, and how the values are
// encoded. Pure code, usable without any window.

#include "device/Protocol.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace SpecialParams
{

// Output board types: the item indexes of rgOutputBoardType.
inline constexpr int BoardNone = 0;
inline constexpr int BoardRelay = 1;
inline constexpr int BoardVoltageOutput = 2;
inline constexpr int BoardCurrentOutput = 3;

// Items of the radio groups.
inline constexpr int InputTypeItems = 3;
inline constexpr int OutputBoardTypeItems = 4;
inline constexpr int ADCSpeedItems = 2;
inline constexpr int ControlModeItems = 3; // rgAM1, rgAM2
inline constexpr int OutModeItems = 2;
inline constexpr int OutModeNormal = 0; // "普通方式"
/// Item index of a radio group with no item selected.
inline constexpr int NoItem = -1;

/// The module holds an analog-output scale as the scale times this factor.
inline constexpr int ScaleFactor = 10000;
inline constexpr double ScaleMinimum = 0.0001;
inline constexpr double ScaleMaximum = 1.9999;
inline constexpr double ScaleInitial = 1.0;
inline constexpr int ScaleDecimals = 4;

inline constexpr int FilterLevelMinimum = 0;
inline constexpr int FilterLevelMaximum = 5;

/// Parts of the progress pane: one per special parameter.
inline constexpr int ProgressParts = SpecialParamCount;
/// Completed parts at the start of a read and of a write.
inline constexpr int ReadProgressStart = 0;
inline constexpr int WriteProgressStart = 1;

/// The analog-output commands whose meaning depends on the board type.
inline constexpr CommandCode FirstOutputCommand = CmdAL1;
inline constexpr CommandCode LastOutputCommand = CmdAM2;

/// The controls of the dialog that hold a special parameter.
enum class Field {
    None, ///< no control: the board type gives the command no source
    InputType,
    OutputBoardType,
    ADCSpeed,
    AL1,
    AH1,
    AM1,
    AL2,
    AH2,
    AM2,
    OutputRangeLow,
    OutputRangeHigh,
    VoltageOutputScale,
    VoltageOutputOffset,
    CurrentOutputScale,
    CurrentOutputOffset,
    ControlCode,
    OutMode,
    OutDSP1,
    OutVAL1,
    OutDSP2,
    OutVAL2,
    OutDSP3,
    OutVAL3,
    StepON,
    StepOFF,
    FilterLevel,
    FilterBand,
};

/// How a field turns a register value into its content and back.
enum class Encoding {
    RangedItem,   ///< radio group; a value outside its items leaves it as it was
    UnrangedItem, ///< radio group; negative = no item, past the last = the last
    OutModeItem,  ///< as UnrangedItem, but "no item" selects the first
    Integer,      ///< numeric edit holding the value itself
    Scale,        ///< numeric edit holding the value / ScaleFactor
    FilterLevel,  ///< spin edit 0..5
};

struct FieldInfo {
    Encoding encoding = Encoding::Integer;
    int items = 0; ///< radio groups: number of items
};

FieldInfo Describe(Field field);

/// The fields a read of `code` fills (one or two; both sets of output
/// controls take the same register value).
struct ReadTargets {
    Field first = Field::None;
    Field second = Field::None;
};
ReadTargets ReadTargetsFor(CommandCode code);

/// The field whose content a write of `code` sends with the board type
/// `boardType` (the item index of rgOutputBoardType; -1 when none is
/// selected). Field::None: the board type gives the command no source.
Field WriteSourceFor(CommandCode code, int boardType);

/// The field the "R"/"W" buttons send for `code` (28..33): the analog-output
/// fields, whatever the board type.
Field OutputFieldFor(CommandCode code);

/// True for a code of the special-parameter run (25..45).
constexpr bool IsSpecialParam(int code)
{
    return code >= FirstSpecialParam && code <= LastSpecialParam;
}
constexpr int RegisterIndex(CommandCode code)
{
    return code - FirstSpecialParam;
}

// --- Value encodings --------------------------------------------------------

/// Radio group with a range test: the item index, or nothing when the value
/// is not one of its `items` (the group keeps its selection).
std::optional<int> DecodeRangedItem(std::int32_t value, int items);
/// Radio group without a range test: NoItem for a negative value, the last
/// item for a value past it.
int DecodeUnrangedItem(std::int32_t value, int items);
/// rgOutMode: as DecodeUnrangedItem, but a value leaving no item selected
/// selects the first item.
int DecodeOutModeItem(std::int32_t value, int items);

/// The scale shown for a register value: value / ScaleFactor.
double DecodeScale(std::int32_t value);
/// The register value for a scale: scale * ScaleFactor rounded to the nearest
/// integer (halves away from zero), so that a decimal entry such as 1.2345,
/// held in binary just below its decimal value, still sends 12345, and a
/// register read and written back is sent unchanged. Not-a-number gives 0;
/// values beyond the 32-bit range are held at its ends.
std::int32_t EncodeScale(double scale);

/// An integer field's content sent as the nearest integer (halves away from
/// zero). Not-a-number gives 0; values beyond the 32-bit range are held at
/// its ends.
std::int32_t EncodeInteger(double value);

/// A read filter level brought into 0..5.
int ClampFilterLevel(std::int32_t value);
/// The filter level sent for the spin edit's text: the integer it holds, 0
/// when it holds none.
std::int32_t FilterLevelFromText(const QString &text);

/// Whole percentage shown for `completed` of `total` parts (rounded).
int ProgressPercent(int completed, int total = ProgressParts);

// --- Register memory --------------------------------------------------------

/// What the dialog knows of the module's 21 special-parameter registers: the
/// value last read, or last written and acknowledged. A write sends this
/// value for a register the selected board type gives no control, so it does
/// not change a register the operator never saw.
class KnownRegisters
{
public:
    void clear() { m_values.fill(std::nullopt); }
    void set(CommandCode code, std::int32_t value);
    std::optional<std::int32_t> get(CommandCode code) const;

private:
    std::array<std::optional<std::int32_t>, SpecialParamCount> m_values{};
};

} // namespace SpecialParams
