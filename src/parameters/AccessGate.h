#pragma once
// The access gate in front of the parameter windows: the access-code dialog,
// then the window of the level whose code was typed. A code is compared as
// text, exactly: no trimming, no numeric conversion, case-sensitive.

#include <QLatin1StringView>

class ModuleSession;
struct ParameterWindows;

/// User level: the general parameter list, special parameters locked out.
inline constexpr QLatin1StringView UserAccessCode{"59"};
/// Factory level: the general parameter list with the special parameters,
/// whose locked fields are unlocked.
inline constexpr QLatin1StringView FactoryAccessCode{"284163"};
/// Special-parameters level: the special parameters directly, locked fields
/// locked.
inline constexpr QLatin1StringView SpecialAccessCode{"705"};

/// Asks for the access code and opens the windows of its level. Cancel or a
/// code of no level opens nothing and says nothing. Sends nothing itself;
/// the reply framing of the session's link is set anew before a window opens.
void RunAccessGate(ParameterWindows &windows, ModuleSession &session);
