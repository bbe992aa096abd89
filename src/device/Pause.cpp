#include "device/Pause.h"

#include <QThread>
#include <QTimer>

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

void PauseThen(int ms, QObject *context, std::function<void()> then)
{
    if (ms < 0)
        ms = 0;
    if (const PauseHook &hook = pauseHook()) {
        hook(ms);
        ms = 0;
    }
    QTimer::singleShot(ms, context, std::move(then));
}

void SetPauseHook(PauseHook hook) { pauseHook() = std::move(hook); }
