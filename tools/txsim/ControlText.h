#pragma once
// Text helpers of the simulator's control interface and traffic log.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char *ControlHelpText =
    "module A | modules | load N | noise A | pattern constant|sine AMP MS|ramp SPAN MS|steps H MS N | "
    "param CODE VALUE | get CODE | autorate HZ | "
    "autosend on|off | burst N | powercycle | log on|off | fault silent on|off | fault late MS | "
    "fault cmd N|off | fault stray N | fault badcheck on|off | fault noise on|off | fault mute CODE "
    "query|data|both|off | "
    "fault clear | raw HEX.. | overlaps | quit";

/// "3F 00 02 3D 23": upper-case hexadecimal bytes separated by blanks.
std::string HexText(const std::uint8_t *bytes, std::size_t count);

/// The blank-separated words of a line (a trailing CR is a blank).
std::vector<std::string> SplitWords(const std::string &line);

/// Whole-word decimal integer (optional sign) or "0x" hexadecimal, within min..max.
bool ParseInteger(const std::string &text, long long min, long long max, long long &value);
bool ParseInt32(const std::string &text, long long &value);
bool ParseDouble(const std::string &text, double min, double max, double &value);
/// "on" / "off" to 1 / 0.
bool ParseSwitch(const std::string &text, long long &value);
/// Words from `first` on, each one or more pairs of hexadecimal digits.
bool ParseHexBytes(const std::vector<std::string> &words, std::size_t first,
                   std::vector<std::uint8_t> &bytes);
