#include "cli/LineClient.h"

#include "io/OperatorError.h"
#include "io/Platform.h"

#include <QSocketNotifier>
#include <QTimer>

StopWatcher &StopWatcher::instance()
{
    static StopWatcher watcher;
    return watcher;
}

void StopWatcher::watch()
{
    if (m_watching)
        return;
    m_watching = true;
    const int handle = Platform::CatchStopSignals();
    if (handle < 0)
        return;
    auto *notifier = new QSocketNotifier(handle, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, handle] {
        if (Platform::TakeStopSignals(handle) && !m_stopped) {
            m_stopped = true;
            emit stopped();
        }
    });
}

LineClient::LineClient(const CliOptions::Line &line, QObject *parent)
    : QObject(parent), m_line(line), m_session(line.replyTimeoutMs)
{
    m_session.SetBaud(line.baud);
}

void LineClient::open()
{
    try {
        m_session.OpenPort(m_line.port);
    } catch (const OperatorError &error) {
        throw CliError(
            ExitCode::PortUnavailable,
            KelvarinCli::tr("Cannot open the port %1: %2").arg(m_line.port, error.message().simplified()));
    }
}

bool LineClient::runLoop(QEventLoop &loop)
{
    if (stopRequested())
        return false;
    connect(&StopWatcher::instance(), &StopWatcher::stopped, &loop, &QEventLoop::quit);
    loop.exec();
    return !stopRequested();
}

LineOutcome LineClient::ask(LineRequest request)
{
    LineOutcome outcome;
    outcome.status = LineOutcome::Status::Cancelled;
    bool ended = false;
    QEventLoop loop;
    const quint64 id = m_session.link().Request(std::move(request), this, [&](const LineOutcome &result) {
        outcome = result;
        ended = true;
        loop.quit();
    });
    if (!ended && !runLoop(loop) && !ended)
        m_session.link().Cancel(id);
    return outcome;
}

LineOutcome LineClient::require(LineRequest request, ExitCode timeoutCode, const QString &what)
{
    const LineOutcome outcome = ask(std::move(request));
    switch (outcome.status) {
    case LineOutcome::Status::Answered:
    case LineOutcome::Status::Cancelled:
        return outcome;
    case LineOutcome::Status::TimedOut:
        throw CliError(timeoutCode,
                       KelvarinCli::tr("%1: no answer within %2 ms.").arg(what).arg(m_line.replyTimeoutMs));
    case LineOutcome::Status::Failed:
        throw CliError(ExitCode::PortUnavailable,
                       KelvarinCli::tr("%1: %2").arg(what, outcome.error.simplified()));
    case LineOutcome::Status::Refused:
        break;
    }
    throw CliError(ExitCode::Failure, KelvarinCli::tr("%1: %2").arg(what, outcome.error.simplified()));
}

bool LineClient::sleep(int ms)
{
    if (ms <= 0)
        return !stopRequested();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    return runLoop(loop);
}
