#pragma once
// Conversion of an operator's integer entry to a 32-bit parameter value.
//
// Accepted: leading blanks (spaces), an optional "+" or "-", then either
// decimal digits or hexadecimal digits after one of the prefixes "$", "x",
// "X", "0x", "0X". Nothing may follow the digits.
//
// Range:
// - decimal: -2147483648 .. 2147483647 ("2147483648" fails);
// - hexadecimal without a sign (or with "+"): 0 .. FFFFFFFF, read as the
//   32-bit register pattern, so "$FFFFFFFF" is -1 and "$80000000" is
//   -2147483648, as the module stores and sends them;
// - hexadecimal with "-": a magnitude of at most 80000000 ("-$80000000" is
//   -2147483648, "-$1F" is -31); "-$80000001" and "-$FFFFFFFF" fail.
// An empty text, a sign or prefix without digits, any other character or a
// value outside these ranges fails.

#include <QStringView>

#include <cstdint>
#include <optional>

std::optional<std::int32_t> ParseIntegerText(QStringView text);
