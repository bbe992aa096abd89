#pragma once
// The module's 21 general parameters in their fixed order. Entry i is read
// with a query frame and written with a data frame of command code i + 2, and
// it is row i of the parameter list.

#include "device/Protocol.h"

#include <QString>
#include <QStringList>

namespace ParameterCatalogue
{

inline constexpr int Count = GeneralParamCount;
static_assert(Count == 21, "the general parameters are commands 2..22");

/// Display names, in catalogue order and in the operator's language.
QStringList Names();
/// Display name of entry `index` (0..Count-1); empty outside the range.
QString Name(int index);
/// Command code that reads and writes entry `index`.
constexpr CommandCode Command(int index)
{
    return static_cast<CommandCode>(FirstGeneralParam + index);
}
/// Catalogue index of a general-parameter command (2..22); -1 for any other code.
constexpr int IndexOf(CommandCode command)
{
    return command >= FirstGeneralParam && command <= LastGeneralParam ? command - FirstGeneralParam : -1;
}

} // namespace ParameterCatalogue
