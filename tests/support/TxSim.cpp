#include "TxSim.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtDebug>

#include <algorithm>

namespace
{

constexpr int PollSliceMs = 20;
constexpr int KillWaitMs = 2000;
const QString PortLinePrefix = QStringLiteral("PTY ");
const QString ReceivedPrefix = QStringLiteral("RX ");
const QString RejectedPrefix = QStringLiteral("RXBAD ");
const QString SentPrefix = QStringLiteral("TX ");

bool IsAnswer(const QString &line)
{
    return line == QLatin1String("OK") || line.startsWith(QLatin1String("OK ")) ||
           line.startsWith(QLatin1String("ERR"));
}

} // namespace

TxSim::TxSim(QObject *parent) : QObject(parent), m_process(new QProcess(this))
{
    m_process->setProgram(QStringLiteral(TXSIM_PATH));
    connect(m_process, &QProcess::readyReadStandardOutput, this, &TxSim::readOutput);
    connect(m_process, &QProcess::readyReadStandardError, this, &TxSim::readErrors);
    connect(m_process, &QProcess::finished, this, &TxSim::readOutput);
}

TxSim::~TxSim()
{
    stop();
}

bool TxSim::isRunning() const
{
    return m_process->state() != QProcess::NotRunning;
}

bool TxSim::start(const QStringList &args, int timeoutMs)
{
    if (isRunning())
        return false;
    m_partialLine.clear();
    m_portName.clear();
    m_answers.clear();
    m_commandsSent = 0;
    clearLog();
    m_process->setArguments(QStringList{QStringLiteral("--exit-on-eof"), QStringLiteral("--log")} + args);
    m_process->start();
    if (!m_process->waitForStarted(timeoutMs))
        return false;
    return waitUntil([this] { return !m_portName.isEmpty() || !isRunning(); }, timeoutMs) &&
           !m_portName.isEmpty();
}

QString TxSim::command(const QString &line, int timeoutMs)
{
    if (!isRunning())
        return {};
    const qsizetype index = m_commandsSent++;
    m_process->write(line.toUtf8() + '\n');
    waitUntil([&] { return m_answers.size() > index || !isRunning(); }, timeoutMs);
    return m_answers.value(index);
}

bool TxSim::ok(const QString &line, int timeoutMs)
{
    const QString answer = command(line, timeoutMs);
    if (!answer.startsWith(QLatin1String("OK")))
        qWarning().noquote() << "txsim:" << line << "->"
                             << (answer.isEmpty() ? QStringLiteral("(none)") : answer);
    return answer.startsWith(QLatin1String("OK"));
}

void TxSim::readOutput()
{
    m_partialLine += m_process->readAllStandardOutput();
    qsizetype end;
    while ((end = m_partialLine.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_partialLine.left(end)).trimmed();
        m_partialLine.remove(0, end + 1);
        if (m_portName.isEmpty() && line.startsWith(PortLinePrefix)) {
            m_portName = line.mid(PortLinePrefix.size());
        } else if (IsAnswer(line)) {
            m_answers.append(line);
        } else {
            m_log.append(line);
            m_logTaken.append(false);
        }
        emit lineReceived(line);
    }
}

void TxSim::readErrors()
{
    const QByteArray text = m_process->readAllStandardError().trimmed();
    if (!text.isEmpty())
        qWarning().noquote() << "txsim stderr:" << QString::fromUtf8(text);
}

QList<QByteArray> TxSim::framesWithPrefix(const QString &prefix) const
{
    QList<QByteArray> frames;
    for (const QString &line : m_log)
        if (line.startsWith(prefix))
            frames.append(QByteArray::fromHex(line.mid(prefix.size()).toLatin1()));
    return frames;
}

QList<QByteArray> TxSim::receivedFrames() const
{
    return framesWithPrefix(ReceivedPrefix);
}

QList<QByteArray> TxSim::rejectedFrames() const
{
    return framesWithPrefix(RejectedPrefix);
}

QList<QByteArray> TxSim::sentFrames() const
{
    return framesWithPrefix(SentPrefix);
}

void TxSim::clearLog()
{
    m_log.clear();
    m_logTaken.clear();
}

bool TxSim::waitForReceivedFrames(int count, int timeoutMs)
{
    return waitUntil([&] { return receivedFrames().size() >= count; }, timeoutMs);
}

bool TxSim::waitForSentFrames(int count, int timeoutMs)
{
    return waitUntil([&] { return sentFrames().size() >= count; }, timeoutMs);
}

QString TxSim::waitForLine(const QString &prefix, int timeoutMs)
{
    qsizetype found = -1;
    const auto look = [&] {
        for (qsizetype i = 0; i < m_log.size(); ++i) {
            if (!m_logTaken[i] && m_log[i].startsWith(prefix)) {
                found = i;
                return true;
            }
        }
        return false;
    };
    if (!waitUntil(look, timeoutMs))
        return {};
    m_logTaken[found] = true;
    return m_log[found];
}

bool TxSim::waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer slice;
        slice.setSingleShot(true);
        connect(&slice, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(this, &TxSim::lineReceived, &loop, &QEventLoop::quit);
        connect(m_process, &QProcess::finished, &loop, &QEventLoop::quit);
        slice.start(int(std::clamp<qint64>(deadline.remainingTime(), 1, PollSliceMs)));
        loop.exec();
    }
    return true;
}

void TxSim::stop(int timeoutMs)
{
    if (!isRunning())
        return;
    m_process->closeWriteChannel(); // end of input: the simulator exits
    if (m_process->waitForFinished(timeoutMs))
        return;
    m_process->terminate();
    if (!m_process->waitForFinished(timeoutMs))
        kill();
}

void TxSim::terminate()
{
    if (isRunning())
        m_process->terminate();
}

void TxSim::kill()
{
    if (!isRunning())
        return;
    m_process->kill();
    m_process->waitForFinished(KillWaitMs);
}
