#pragma once
// The access gate in front of the parameter windows: the access-code dialog,
// then the window of the level whose code was typed. A code is compared as
// text, exactly: no trimming, no numeric conversion, case-sensitive.

#include "device/AccessCodes.h"

class ModuleSession;
struct ParameterWindows;

/// Asks for the access code and opens the windows of its level. Cancel or a
/// code of no level opens nothing and says nothing. Sends nothing itself;
/// the reply framing of the session's link is set anew before a window opens.
void RunAccessGate(ParameterWindows &windows, ModuleSession &session);
