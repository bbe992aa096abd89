#pragma once
// One session with the modules on a serial line: the port and its line
// settings, the device link with the shared reply state, live polling with
// its timer, the current bus address, the status text shown to the operator
// and the settings in force. Every window commands the modules through it;
// it needs no window itself.

#include "device/CurrentSettings.h"
#include "device/DeviceLink.h"

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

class ModuleSession : public QObject
{
    Q_OBJECT
public:
    static constexpr DeviceAddress AddressMin = 0;
    static constexpr DeviceAddress AddressMax = 255;
    static constexpr DeviceAddress DefaultAddress = 1;

    explicit ModuleSession(int replyTimeoutMs = DeviceLink::DefaultReplyTimeoutMs, QObject *parent = nullptr);
    ~ModuleSession() override;

    DeviceLink &link() { return m_link; }
    ReplyState &reply() { return m_link.reply(); }
    CurrentSettings &current() { return m_current; }
    const CurrentSettings &current() const { return m_current; }
    QSerialPort &comPort() { return m_comPort1; }
    QTimer &timerRead() { return m_timerRead; }

    // --- Current address (every exchange but the broadcasts goes to it) -------
    DeviceAddress CurrentAddress() const { return m_address; }
    /// Brought into 0..255; currentAddressChanged when it changes. A reply
    /// sets it to the replying module's address.
    void SetCurrentAddress(qint64 address);

    /// Whether a reply makes its module the current one and shows its value
    /// (on by default). A bus scan turns it off while it asks other modules:
    /// their replies then update the reply state only.
    void SetFollowReplies(bool follow) { m_followReplies = follow; }
    bool FollowsReplies() const { return m_followReplies; }

    // --- The last measured value ----------------------------------------------------
    /// The display value of the last measured value (raw / 10^Decimal).
    double DisplayValue() const { return m_displayValue; }
    /// The DisplayValue of a raw value: divided by 10^decimal when decimal > 0.
    static double DisplayValueOf(std::int32_t value, int decimal);

    // --- Settings in force ---------------------------------------------------------
    void SetReadInterval(int ms);
    /// Baud rate of the next opening (and of an open port at once).
    void SetBaud(int baud);

    // --- Port -------------------------------------------------------------------------
    bool IsPortOpen() const { return m_comPort1.isOpen(); }
    /// Opens `portName` with the line settings; throws OperatorError
    /// ("串口打开失败！" and the reason) when it cannot be opened.
    void OpenPort(const QString &portName);
    void ClosePort();
    /// Closes and opens the port again (a new baud rate takes effect). When
    /// the opening fails the port stays closed, portClosed() is emitted and
    /// the OperatorError is passed on.
    void ReopenPort();

    // --- Live reading -----------------------------------------------------------------
    /// Starts the polling timer; false (nothing started) while a bus scan holds the line.
    bool StartReading();
    /// Ends live reading (and any wait in progress, as answered).
    void StopReading();
    bool IsReading() const { return m_timerRead.isActive(); }
    /// One polling tick (the timer's handler).
    void TimerReadTimer();
    /// A poll is queued or on the line and neither its reply nor its time-out ended it yet.
    bool PollPending() const { return m_pollPending; }

signals:
    void currentAddressChanged(DeviceAddress address);
    /// A module replied from `address` (after the current address became it).
    void addressReplied(DeviceAddress address);
    /// A measured value arrived (a reply to CmdReadValue, asked or sent
    /// unasked); its raw value is in reply().ReplyValue.
    void valueRead(std::int32_t raw, double displayValue);
    /// Live reading ended by itself: the poll timed out.
    void readingTimedOut();
    /// A poll could not be sent; live reading is stopped. `reported`: the
    /// operator is told elsewhere (the port went away).
    void pollFailed(const QString &error, bool reported);
    /// The port went away; it is closed and live reading stopped. Once per opening.
    void portLost(const QString &reason);
    /// A reopening failed: the port is closed.
    void portClosed();

private:
    void ReplyHandled(const Reply &reply, bool asked);
    /// Forgets the poll in progress (stopped, port closed): its outcome no longer counts.
    void PollEnded()
    {
        m_pollPending = false;
        ++m_pollNumber;
    }
    void PollEnded(const LineOutcome &outcome);
    void DeviceLost(const QString &reason);

    QSerialPort m_comPort1;
    DeviceLink m_link;
    QTimer m_timerRead;
    CurrentSettings m_current;
    DeviceAddress m_address = DefaultAddress;
    double m_displayValue = 0;
    bool m_pollPending = false;
    quint64 m_pollNumber = 0; ///< the poll whose outcome counts
    bool m_followReplies = true;
};
