#pragma once
// The device link: the one owner of the line. Every request of the program
// (polls, buttons, parameter windows, calibration, the bus scan) goes through
// its queue, and at most one is on the line at any time: the next goes out
// only when the last one's own reply (its address and command) has come or
// its time-out has run out. Replies are cut by the ReplyAssembler, which
// drops frames whose check byte or "#" is wrong. A reply that belongs to no
// request (automatic sending, a late answer, another module) ends no wait;
// it is reported as unasked.

#include "device/LineRequest.h"
#include "device/Protocol.h"
#include "device/ReplyAssembler.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMetaMethod>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <optional>

/// The outcome of the last blocking exchange and the content of the last
/// reply that answered a request.
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

    // --- The queue -------------------------------------------------------------
    /// Queues a request; returns at once with its id. `done` is called once
    /// when it ends, from the event loop, unless `context` is gone by then or
    /// the request was withdrawn with Cancel.
    quint64 Request(LineRequest request, QObject *context, LineCallback done);
    /// Withdraws a request: a queued one never goes out; one on the line
    /// still holds it until its reply or time-out, which then counts as unasked.
    void Cancel(quint64 id);
    /// Withdraws every live-reading poll (stopping reading).
    void CancelPolls();
    /// Whether a request is on the line, or waits for it.
    bool LineBusy() const { return m_inFlight.has_value() || !m_queue.empty(); }
    bool RequestOnLine() const { return m_inFlight.has_value(); }
    /// Requests sent so far (each frame written counts once).
    quint64 requestsSent() const { return m_requestsSent; }

    /// Holds the line for `holder` (a bus scan): until Release, every request
    /// of anybody else is refused. False when held already or not idle.
    bool Reserve(const void *holder);
    void Release(const void *holder);
    bool IsReserved() const { return m_holder != nullptr; }
    /// Why requests are refused while the line is held.
    static QString TextLineHeld();

    /// Called for each complete, whole reply (the 8 bytes after its "=").
    void HandleReply(const std::uint8_t *packet);

    /// Re-applies the fixed reply framing; leaves buffered bytes untouched.
    void ReapplyFraming() { m_assembler.setFraming(ReplyAssembler::StartMarker, ReplyAssembler::PacketSize); }

    ReplyAssembler &assembler() { return m_assembler; }
    quint64 replyCount() const { return m_replyCount; }
    /// Frames dropped as faulty (check byte or "#") since the port was opened.
    quint64 droppedFrames() const { return m_assembler.droppedFrames(); }
    QTimer &timerWait() { return m_timerWait; }
    /// Milliseconds since the device was attached open (the port opened).
    qint64 openedElapsedMs() const { return m_openedClock.isValid() ? m_openedClock.elapsed() : 0; }
    int replyTimeoutMs() const { return m_replyTimeoutMs; }
    /// The time-out of requests that bring none of their own (from the next one on).
    void setReplyTimeoutMs(int ms) { m_replyTimeoutMs = std::max(ms, 1); }

    /// Replies that come less than StreamGapMs apart (automatic sending) are
    /// read together every `ms` instead of one by one: the port keeps what
    /// arrives meanwhile. 0 reads every piece at once.
    void setStreamBatchInterval(int ms) { m_streamBatchMs = ms; }
    int streamBatchInterval() const { return m_streamBatchMs; }
    static constexpr int DefaultStreamBatchMs = 20;
    /// Reads what the port keeps for the batch now, before its time is up
    /// (a display about to be drawn takes the newest replies).
    void readHeld();
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
    /// A whole reply arrived. `asked`: it answered the request on the line
    /// (emitted before that request's callback runs).
    void replyHandled(const Reply &reply, bool asked);
    /// A faulty frame was dropped (the count is droppedFrames()).
    void frameDropped(const QByteArray &frame);
    /// The line was taken or given back by its holder.
    void reservationChanged(bool reserved);
    void deviceLost(const QString &reason);

    // The tap: what goes over the line, for whoever watches it. Emitted only
    // while someone is connected, so an unwatched link pays nothing for it.
    /// The bytes of a frame have been handed to the device for writing.
    void frameWritten(const QByteArray &frame);
    /// A piece of received bytes, before the assembler cuts replies from it.
    void bytesRead(const QByteArray &piece);

private:
    struct Pending {
        quint64 id = 0;
        LineRequest request;
        QPointer<QObject> context;
        bool hasContext = false;
        LineCallback done;
    };
    /// Sends the next request when the line is free.
    void Dispatch();
    /// Ends the request on the line (or a queued one that never went out).
    void Finish(Pending pending, LineOutcome outcome);
    void Deliver(const Pending &pending, const LineOutcome &outcome);
    void RequestTimedOut();
    /// Ends every request, on the line and queued (port closed or lost).
    void EndAll(LineOutcome::Status status, const QString &error, bool reported);
    /// Writes the bytes and returns once they are written; throws
    /// OperatorError (or ReportedError after a loss) when it cannot.
    void WriteFrame(const QByteArray &frame);
    /// Writes what it can of `frame` straight to a serial port's descriptor;
    /// returns the bytes written (0: none, the port writes them).
    static qint64 WriteDirect(QIODevice *device, const QByteArray &frame);
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
    QString failText(const QString &reason) const;
    bool isTapped(void (DeviceLink::*signal)(const QByteArray &)) const
    {
        return isSignalConnected(QMetaMethod::fromSignal(signal));
    }

    std::deque<Pending> m_queue;
    std::optional<Pending> m_inFlight;
    quint64 m_nextId = 1;
    quint64 m_requestsSent = 0;
    bool m_pollPassedOver = false; ///< a waiting poll let an operator request go first
    bool m_dispatching = false;
    bool m_writing = false; ///< a frame is being written
    const void *m_holder = nullptr;
    QPointer<QIODevice> m_device;
    ReplyAssembler m_assembler;
    ReplyState m_reply;
    QTimer m_timerWait; ///< the time-out of the request on the line
    int m_replyTimeoutMs = DefaultReplyTimeoutMs;
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
