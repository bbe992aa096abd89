#pragma once
// Blocking pauses between exchanges. They handle no window messages. Tests
// replace the sleeper to run fast or to record the pauses asked for.

#include <functional>

/// Blocks the calling thread for `ms` milliseconds (negative counts as 0).
void Pause(int ms);

using PauseHook = std::function<void(int ms)>;
/// Replaces the sleeper; an empty hook restores the real one.
void SetPauseHook(PauseHook hook);
