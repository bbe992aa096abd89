#pragma once
// Pauses between requests. PauseThen schedules what follows a pause and
// returns at once (the window keeps handling events); Pause blocks and
// handles nothing. Tests replace the sleeper to run fast or to record the
// pauses asked for: with a hook in place a scheduled pause runs its
// continuation at the next turn of the event loop.

#include <functional>

class QObject;

/// Blocks the calling thread for `ms` milliseconds (negative counts as 0).
void Pause(int ms);

/// Runs `then` after `ms` milliseconds from the event loop, unless `context`
/// is gone by then.
void PauseThen(int ms, QObject *context, std::function<void()> then);

using PauseHook = std::function<void(int ms)>;
/// Replaces the sleeper; an empty hook restores the real one.
void SetPauseHook(PauseHook hook);
