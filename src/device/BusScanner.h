#pragma once
// The bus scan: asks each address of a range in turn which module is there (a
// CmdDN query to that address), and reads the measured value of every module
// that answers. Nothing is ever written to a module.
//
// The scan holds the line for its run (every other request is refused until
// it ends) and asks through the line's queue with its own short time-out;
// nothing waits. While it runs, replies do not move the session's current
// address nor show in its value display; the reply state is left as the scan
// found it.
//
// Only a reply from the address being asked, with the command asked for,
// answers the question. Any other reply is a bus conflict; when it comes from
// an address asked earlier in this scan that did not answer in time, it is
// that module's late answer.

#include "device/LineRequest.h"
#include "device/Protocol.h"

#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

#include <bitset>
#include <cstdint>

class ModuleSession;

/// A module that answered the scan.
struct BusScanFinding {
    DeviceAddress address = 0;
    /// From the question written to its answer handled.
    double answerMs = 0;
    /// Whether the module also answered the read of its measured value.
    bool hasValue = false;
    /// The measured value as the module sends it (the display divides it by 10^Decimal).
    std::int32_t value = 0;
};
Q_DECLARE_METATYPE(BusScanFinding)

class BusScanner : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 100;
    static constexpr int MinTimeoutMs = 20;
    static constexpr int MaxTimeoutMs = 2000;
    /// The line is listened to this long before the first question. Modules in
    /// automatic sending send a value at least every 100 ms (10 conversions a
    /// second), so a reply arrives in this time when any module sends on its own.
    static constexpr int DefaultListenMs = 250;
    static constexpr DeviceAddress FirstAddress = 1;
    static constexpr DeviceAddress LastAddress = 255;

    /// Why start() did not start.
    enum class Refusal {
        None,       ///< started
        Running,    ///< a scan is running already
        PortClosed, ///< the port is not open
        Reading,    ///< live reading runs
        LineBusy,   ///< another exchange waits for its reply
        EmptyRange, ///< the first address lies above the last
    };
    Q_ENUM(Refusal)

    /// How a scan ended.
    enum class Ending {
        Completed,      ///< every address of the range was asked
        Stopped,        ///< stop() was called
        AutoSending,    ///< replies came unasked before the first question
        ReadingStarted, ///< live reading was started meanwhile
        LineBusy,       ///< another exchange started meanwhile
        PortFailed,     ///< the port was closed or lost, or a write failed (detail says why)
    };
    Q_ENUM(Ending)

    explicit BusScanner(ModuleSession &session, QObject *parent = nullptr);
    ~BusScanner() override;

    /// Time-out of each question, brought into MinTimeoutMs..MaxTimeoutMs.
    void setTimeoutMs(int ms);
    int timeoutMs() const { return m_timeoutMs; }
    void setListenMs(int ms) { m_listenMs = ms < 0 ? 0 : ms; }
    int listenMs() const { return m_listenMs; }

    /// Starts a scan of `from`..`to` (both included). Refusal::None when it
    /// started; the outcome comes with finished().
    Refusal start(DeviceAddress from, DeviceAddress to);
    /// Ends the scan once the question in progress is answered or timed out
    /// (at once when none is): finished(Stopped) follows within one time-out.
    void stop();

    bool isRunning() const { return m_phase != Phase::Idle; }
    bool stopRequested() const { return m_stopRequested; }

    /// The value text of a measured value, as the value display shows it.
    static QString FormatValue(std::int32_t value, int decimal, const QString &unit);

signals:
    /// The line is being listened to before the first question.
    void listening();
    /// `address` is being asked; `index` counts from 0 up to `count` - 1.
    void asking(DeviceAddress address, int index, int count);
    void found(const BusScanFinding &finding);
    /// While `asked` was asked, a reply came from `answered` (which may be
    /// `asked` itself: a second answer, two modules sharing the address).
    /// `late`: `answered` was asked before in this scan and did not answer
    /// (its address or its value) in time.
    void conflict(DeviceAddress asked, DeviceAddress answered, bool late);
    void finished(BusScanner::Ending ending, const QString &detail);

private:
    enum class Phase { Idle, Listening, AskingAddress, ReadingValue, Settling };

    void ReplyHandled(const Reply &reply, bool asked);
    void Answered(const LineOutcome &outcome);
    void TimerExpired();
    void AskNext();
    /// Sends a query to the address being asked and starts its time-out.
    void Ask(CommandCode command);
    void Found(bool hasValue, std::int32_t value);
    void ReportConflict(DeviceAddress answered);
    void Finish(Ending ending, const QString &detail = {});

    ModuleSession &m_session;
    QTimer m_timer;
    QElapsedTimer m_sinceAsked;
    Phase m_phase = Phase::Idle;
    int m_timeoutMs = DefaultTimeoutMs;
    int m_listenMs = DefaultListenMs;
    int m_from = FirstAddress;
    int m_to = LastAddress;
    int m_asked = FirstAddress;
    double m_answerMs = 0;
    bool m_stopRequested = false;
    std::bitset<256> m_unanswered;    ///< asked in this scan, an answer missing at its time-out
    std::bitset<256> m_conflictsSeen; ///< answering addresses reported for the question in progress
    std::uint8_t m_savedCommand = 0;  ///< reply state when the scan started
    std::int32_t m_savedValue = 0;
};
