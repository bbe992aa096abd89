#pragma once
// The access codes in front of the module's parameters. A code is compared as
// text, exactly: no trimming, no numeric conversion, case-sensitive.

#include <QLatin1StringView>

/// User level: the general parameters; the special parameters locked out.
inline constexpr QLatin1StringView UserAccessCode{"59"};
/// Factory level: the general parameters and the special parameters, whose
/// locked fields are unlocked.
inline constexpr QLatin1StringView FactoryAccessCode{"284163"};
/// Special-parameters level: the special parameters directly, locked fields
/// locked.
inline constexpr QLatin1StringView SpecialAccessCode{"705"};
