#pragma once
// The device link: one request at a time over the serial port (or any
// QIODevice), replies cut by the ReplyAssembler and recorded in the shared
// reply state, and Exchange waiting for a reply or the time-out while it
// keeps handling window messages.

#include "device/Protocol.h"
#include "device/ReplyAssembler.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMetaMethod>
#include <QObject>
#include <QPointer>
#include <QTimer>

/// The outcome of the last exchange and the content of the last reply.
struct ReplyState {
    bool ReplyDone = false;
    bool ReplyTimedOut = false;
    std::uint8_t ReplyCommand = 0;
    std::int32_t ReplyValue = 0;
};

class DeviceLink : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultReplyTimeoutMs = 2000;
    static constexpr int WriteTimeoutPerByteMs = 100;
    static constexpr int WriteTimeoutBaseMs = 1000;

    explicit DeviceLink(QObject *parent = nullptr, int replyTimeoutMs = DefaultReplyTimeoutMs);

    /// Starts receiving from `device` (not owned). Replaces any earlier device.
    /// A device attached open starts the clock of openedElapsedMs().
    void attach(QIODevice *device);
    void detach();
    QIODevice *device() const { return m_device; }
    bool isOpen() const;

    ReplyState &reply() { return m_reply; }
    const ReplyState &reply() const { return m_reply; }

    /// Writes the frame and returns once it is written. Throws OperatorError
    /// when the port is closed or the write fails.
    void SendFrame(const QByteArray &frame);
    void SendFrame(const QueryFrame &frame) { SendFrame(toBytes(frame)); }
    void SendFrame(const DataFrame &frame) { SendFrame(toBytes(frame)); }

    /// Sends and waits for a reply or the time-out; true when answered.
    /// Window messages are handled while waiting, so handlers may nest.
    bool Exchange(const QByteArray &frame);
    bool Exchange(const QueryFrame &frame) { return Exchange(toBytes(frame)); }
    bool Exchange(const DataFrame &frame) { return Exchange(toBytes(frame)); }

    /// An exchange that counts as answered only when the reply carries the
    /// command code that was asked for (a reply to another request, e.g. a
    /// live-reading poll running underneath, is treated like a time-out).
    /// A wait ended without any reply (aborted by stopping live reading)
    /// does not count either, whatever the last reply carried.
    bool ExchangeExpecting(const QByteArray &frame, CommandCode expected)
    {
        const quint64 before = m_replyCount;
        return Exchange(frame) && m_replyCount != before && m_reply.ReplyCommand == expected;
    }
    bool ExchangeExpecting(const QueryFrame &frame) { return ExchangeExpecting(toBytes(frame), frame[2]); }
    bool ExchangeExpecting(const DataFrame &frame) { return ExchangeExpecting(toBytes(frame), frame[2]); }

    /// Starts TimerWait unless it is already running (a nested wait keeps the
    /// deadline of the outer one).
    void StartTimerWait();
    /// Handles window messages until ReplyDone or ReplyTimedOut is set.
    void WaitForReply();
    /// Ends a pending wait as answered.
    void AbortExchange();
    /// TimerWait expired.
    void TimerWaitTimer();

    /// Called for each complete reply (the 8 bytes after its "=").
    void HandleReply(const std::uint8_t *packet);

    /// Re-applies the fixed reply framing; leaves buffered bytes untouched.
    void ReapplyFraming() { m_assembler.setFraming(ReplyAssembler::StartMarker, ReplyAssembler::PacketSize); }

    ReplyAssembler &assembler() { return m_assembler; }
    quint64 replyCount() const { return m_replyCount; }
    QTimer &timerWait() { return m_timerWait; }
    /// Milliseconds since the device was attached open (the port opened).
    qint64 openedElapsedMs() const { return m_openedClock.isValid() ? m_openedClock.elapsed() : 0; }
    int replyTimeoutMs() const { return m_timerWait.interval(); }

    /// Replies that come less than StreamGapMs apart (automatic sending) are
    /// read together every `ms` instead of one by one: the port keeps what
    /// arrives meanwhile. 0 reads every piece at once.
    void setStreamBatchInterval(int ms) { m_streamBatchMs = ms; }
    int streamBatchInterval() const { return m_streamBatchMs; }
    static constexpr int DefaultStreamBatchMs = 20;
    static constexpr int StreamGapMs = 4;

    /// The device is gone (pulled adapter, hang-up): the device is closed and
    /// any wait ends as timed out. Reported once per attached device.
    void declareDeviceLost(const QString &reason);
    /// The operator has been told of the loss. Until then, writes that fail
    /// because of it throw ReportedError (the handlers that were running when
    /// the device went end without an error dialog of their own).
    void LossReported() { m_lossUntold = false; }
    bool LossUntold() const { return m_lossUntold; }

    template <std::size_t N> static QByteArray toBytes(const std::array<std::uint8_t, N> &frame)
    {
        return QByteArray(reinterpret_cast<const char *>(frame.data()), qsizetype(N));
    }

signals:
    /// Emitted after the reply state has been updated.
    void replyHandled(const Reply &reply);
    /// TimerWait ran out (every wait in progress ends as timed out).
    void waitTimedOut();
    /// AbortExchange ended the waits in progress.
    void waitAborted();
    void deviceLost(const QString &reason);

    // The tap: what goes over the line, for whoever watches it. Emitted only
    // while someone is connected, so an unwatched link pays nothing for it.
    /// The bytes of a frame have been handed to the device for writing.
    void frameWritten(const QByteArray &frame);
    /// A piece of received bytes, before the assembler cuts replies from it.
    void bytesRead(const QByteArray &piece);

private:
    void readAvailable();
    void readNow();
    void endBatch();
    /// Whether replies streaming in are read in batches now.
    bool batching() const;
    /// Limits the port's read buffer to `bytes`: when it holds them, it
    /// stops reading (and waking us) until it is read.
    void holdPort(qint64 bytes);
    void releasePort();
    [[noreturn]] void failWrite(const QString &reason) const;
    bool isTapped(void (DeviceLink::*signal)(const QByteArray &)) const
    {
        return isSignalConnected(QMetaMethod::fromSignal(signal));
    }

    QPointer<QIODevice> m_device;
    ReplyAssembler m_assembler;
    ReplyState m_reply;
    QTimer m_timerWait;
    bool m_lostReported = false;
    bool m_lossUntold = false;
    int m_emptyReads = 0;
    int m_failedReads = 0;
    quint64 m_replyCount = 0; // replies handled so far
    int m_streamBatchMs = DefaultStreamBatchMs;
    QElapsedTimer m_pieceClock; // since the last piece was read
    QTimer m_batchTimer;        // running while the port holds a batch
    bool m_portHolding = false; // the port's read buffer is limited
    QElapsedTimer m_openedClock;
};
