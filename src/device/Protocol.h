#pragma once
// Wire protocol of the transmitter modules: frame layouts, check byte and the
// command table. Pure code; sending and waiting live in DeviceLink.

#include <array>
#include <cstddef>
#include <cstdint>

using DeviceAddress = std::uint8_t;
using CommandCode = std::uint8_t;

inline constexpr DeviceAddress BroadcastAddress = 0;

inline constexpr std::uint8_t QueryStart = 0x3F; // "?"
inline constexpr std::uint8_t DataStart = 0x3D;  // "="
inline constexpr std::uint8_t FrameEnd = 0x23;   // "#"

inline constexpr std::size_t QueryFrameSize = 5;
inline constexpr std::size_t DataFrameSize = 9;
inline constexpr std::size_t ReplyFrameSize = DataFrameSize;
/// Bytes handed to the reply handler: everything after the "=".
inline constexpr std::size_t ReplyPacketSize = ReplyFrameSize - 1;

using QueryFrame = std::array<std::uint8_t, QueryFrameSize>;
using DataFrame = std::array<std::uint8_t, DataFrameSize>;

// Command table.
inline constexpr CommandCode CmdReadAdCode = 0;
inline constexpr CommandCode CmdReadValue = 1;
inline constexpr CommandCode CmdDN = 2;
inline constexpr CommandCode CmdZerO = 3;
inline constexpr CommandCode CmdPointCount = 4;
inline constexpr CommandCode CmdAutoSend = 23;
inline constexpr CommandCode CmdStore = 24;
inline constexpr CommandCode CmdInputType = 25;
inline constexpr CommandCode CmdOutputBoardType = 26;
inline constexpr CommandCode CmdADCSpeed = 27;
inline constexpr CommandCode CmdAL1 = 28;
inline constexpr CommandCode CmdAH1 = 29;
inline constexpr CommandCode CmdAM1 = 30;
inline constexpr CommandCode CmdAL2 = 31;
inline constexpr CommandCode CmdAH2 = 32;
inline constexpr CommandCode CmdAM2 = 33;
inline constexpr CommandCode CmdControlCode = 34;
inline constexpr CommandCode CmdOutMode = 35;
inline constexpr CommandCode CmdStepON = 42;
inline constexpr CommandCode CmdStepOFF = 43;
inline constexpr CommandCode CmdFilterLevel = 44;
inline constexpr CommandCode CmdFilterBand = 45;
inline constexpr CommandCode CmdLast = CmdFilterBand;

inline constexpr int CalibrationPointCount = 9;
inline constexpr int SpecialOutputPointCount = 3;

/// Input value (AD code) of calibration point k, k = 1..9.
constexpr CommandCode CmdAVP(int k) { return static_cast<CommandCode>(4 + k); }
/// Display value of calibration point k, k = 1..9.
constexpr CommandCode CmdPVP(int k) { return static_cast<CommandCode>(13 + k); }
/// Display value of special output point k, k = 1..3.
constexpr CommandCode CmdOutDSP(int k) { return static_cast<CommandCode>(34 + 2 * k); }
/// Output value of special output point k, k = 1..3.
constexpr CommandCode CmdOutVAL(int k) { return static_cast<CommandCode>(35 + 2 * k); }

// General parameters: catalogue entry i is command FirstGeneralParam + i.
inline constexpr CommandCode FirstGeneralParam = CmdDN;
inline constexpr CommandCode LastGeneralParam = CmdPVP(9);
inline constexpr int GeneralParamCount = LastGeneralParam - FirstGeneralParam + 1;
// Special parameters, read and written as one run in ascending order.
inline constexpr CommandCode FirstSpecialParam = CmdInputType;
inline constexpr CommandCode LastSpecialParam = CmdFilterBand;
inline constexpr int SpecialParamCount = LastSpecialParam - FirstSpecialParam + 1;

/// XOR of the first `count` bytes.
std::uint8_t XorCheck(const std::uint8_t *bytes, std::size_t count);

QueryFrame BuildQueryFrame(DeviceAddress address, CommandCode command);
DataFrame BuildDataFrame(DeviceAddress address, CommandCode command, std::int32_t value);

/// A reply as the module sent it, decoded from the 8 bytes after its "=".
struct Reply {
    DeviceAddress address = 0;
    CommandCode command = 0;
    std::int32_t value = 0;
};

/// Decodes the 8 bytes that follow a reply's "=". Bytes 6 and 7 (check byte
/// and "#") are not examined here: see ReplyIsWhole.
Reply DecodeReply(const std::uint8_t *packet);

/// Whether the 8 bytes that follow a reply's "=" carry the right check byte
/// (over "=" and bytes 0..5) and end with "#".
bool ReplyIsWhole(const std::uint8_t *packet);

/// Big-endian signed 32-bit value at `bytes`.
std::int32_t DecodeValue(const std::uint8_t *bytes);
void EncodeValue(std::int32_t value, std::uint8_t *bytes);
