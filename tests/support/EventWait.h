#pragma once
// Waiting in a test for something the program finishes from its event loop
// (a request's outcome, the end of a run), without polling in slices.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

/// Handles events as they come until `condition` holds (true) or `timeoutMs`
/// has passed (false).
template <typename Condition> bool WaitForEvents(Condition condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake; // ends the last wait at the deadline
    wake.setSingleShot(true);
    wake.start(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
