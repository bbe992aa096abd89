#include "device/Pause.h"

#include <QThread>

namespace {
PauseHook &pauseHook()
{
    static PauseHook hook;
    return hook;
}
} // namespace

void Pause(int ms)
{
    if (ms < 0)
        ms = 0;
    if (const PauseHook &hook = pauseHook())
        hook(ms);
    else if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

void SetPauseHook(PauseHook hook) { pauseHook() = std::move(hook); }
