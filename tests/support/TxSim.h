#pragma once
// Test-side controller of the module simulator (txsim): starts it as a child
// process, sends control lines, and collects its traffic log. All waits pump
// the event loop, so QProcess output and the caller's own objects keep working.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

class TxSim : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 5000;
    static constexpr int DefaultStopTimeoutMs = 3000;

    explicit TxSim(QObject *parent = nullptr);
    ~TxSim() override;

    /// Starts txsim with `args`, always adding "--exit-on-eof" and "--log" (so the
    /// traffic is logged; send "log off" to stop it), and waits for its port line.
    bool start(const QStringList &args = {}, int timeoutMs = DefaultTimeoutMs);
    /// The simulator's pseudo-terminal, e.g. "/dev/pts/3"; empty before start().
    QString portName() const { return m_portName; }
    bool isRunning() const;

    /// Sends one control line and returns its answer ("OK..." or "ERR..."), or an
    /// empty string when none came in time or the simulator ended.
    QString command(const QString &line, int timeoutMs = DefaultTimeoutMs);
    /// command() that is answered with OK.
    bool ok(const QString &line, int timeoutMs = DefaultTimeoutMs);

    /// Frames the modules received (RX lines) since the last clearLog(), in order.
    QList<QByteArray> receivedFrames() const;
    /// Candidates rejected for a wrong check or end byte (RXBAD lines).
    QList<QByteArray> rejectedFrames() const;
    /// Replies the modules sent (TX lines), without stray bytes.
    QList<QByteArray> sentFrames() const;
    /// Every line other than control answers (RX, TX, STORED, BURST DONE, ...).
    QStringList logLines() const { return m_log; }
    void clearLog();

    bool waitForReceivedFrames(int count, int timeoutMs = DefaultTimeoutMs);
    bool waitForSentFrames(int count, int timeoutMs = DefaultTimeoutMs);
    /// Waits for a log line starting with `prefix` that no earlier waitForLine()
    /// returned (lines that came before the call count); returns it, or empty.
    QString waitForLine(const QString &prefix, int timeoutMs = DefaultTimeoutMs);
    /// Pumps events until `condition` holds; false on time-out.
    bool waitUntil(const std::function<bool()> &condition, int timeoutMs);

    /// Ends the simulator the orderly way (its link is removed), killing it if it hangs.
    void stop(int timeoutMs = DefaultStopTimeoutMs);
    /// SIGTERM.
    void terminate();
    /// SIGKILL: the port vanishes like a pulled device.
    void kill();

    QProcess *process() const { return m_process; }

signals:
    void lineReceived(const QString &line);

private:
    void readOutput();
    void readErrors();
    QList<QByteArray> framesWithPrefix(const QString &prefix) const;

    QProcess *m_process = nullptr;
    QByteArray m_partialLine;
    QString m_portName;
    QStringList m_answers;
    qsizetype m_commandsSent = 0;
    QStringList m_log;
    QList<bool> m_logTaken;
};
