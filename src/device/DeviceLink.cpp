#include "device/DeviceLink.h"

#include "io/OperatorError.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QScopedValueRollback>
#include <QFileInfo>
#include <QSerialPort>

#include <algorithm>
#include <cerrno>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
// Read notifications in a row that bring no bytes, or failed reads in a row,
// before a port that still claims to be open is taken as hung up.
constexpr int HangUpEmptyReads = 64;
constexpr int HangUpFailedReads = 3;
} // namespace

DeviceLink::DeviceLink(QObject *parent, int replyTimeoutMs) : QObject(parent), m_replyTimeoutMs(replyTimeoutMs)
{
    m_timerWait.setSingleShot(true);
    m_timerWait.setInterval(replyTimeoutMs);
    connect(&m_timerWait, &QTimer::timeout, this, &DeviceLink::RequestTimedOut);
    m_assembler.setPacketHandler([this](const std::uint8_t *packet) { HandleReply(packet); });
    m_assembler.setFaultHandler([this](const QByteArray &frame) { emit frameDropped(frame); });
    m_batchTimer.setSingleShot(true);
    m_batchTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_batchTimer, &QTimer::timeout, this, &DeviceLink::endBatch);
}

void DeviceLink::attach(QIODevice *device)
{
    detach();
    m_device = device;
    m_lostReported = false;
    m_lossUntold = false;
    m_emptyReads = 0;
    m_failedReads = 0;
    if (!device)
        return;
    if (device->isOpen())
        m_openedClock.start();
    m_assembler.resetDroppedFrames();
    connect(device, &QIODevice::readyRead, this, &DeviceLink::readAvailable);
    // Closing (or reopening) the port ends what was asked on it: the next
    // request starts with a fresh time-out.
    connect(device, &QIODevice::aboutToClose, this,
            [this] { EndAll(LineOutcome::Status::Cancelled, tr("串口已关闭。"), false); });
    if (auto *port = qobject_cast<QSerialPort *>(device)) {
        connect(port, &QSerialPort::errorOccurred, this, [this, port](QSerialPort::SerialPortError error) {
            if (error == QSerialPort::ResourceError) {
                // A read that would block ("temporarily unavailable") comes as
                // the same error as a vanished device, and the port stops
                // reading after it: only a port whose device is gone is lost;
                // otherwise it is told to read on (setting its read buffer
                // size starts reading again).
                const QString name = port->portName();
                if (QFileInfo::exists(name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name)) {
                    QTimer::singleShot(0, port, [port] {
                        port->clearError();
                        port->setReadBufferSize(port->readBufferSize());
                    });
                    return;
                }
                declareDeviceLost(port->errorString());
            } else if (error == QSerialPort::ReadError) {
                // A hung-up line (adapter pulled, the far end of a pseudo-terminal
                // gone) reports failed reads on every notification, forever.
                if (++m_failedReads >= HangUpFailedReads)
                    declareDeviceLost(tr("读取失败，设备已断开。"));
            }
        });
    }
}

void DeviceLink::detach()
{
    if (m_device) {
        disconnect(m_device, nullptr, this, nullptr);
        releasePort();
    }
    m_batchTimer.stop();
    m_pieceClock.invalidate();
    m_device = nullptr;
}

void DeviceLink::holdPort(qint64 bytes)
{
    if (auto *port = qobject_cast<QSerialPort *>(m_device.data())) {
        port->setReadBufferSize(bytes);
        m_portHolding = true;
    }
}

void DeviceLink::releasePort()
{
    if (!m_portHolding)
        return;
    m_portHolding = false;
    if (auto *port = qobject_cast<QSerialPort *>(m_device.data()))
        port->setReadBufferSize(0); // reading the buffer lets the port read on
}

bool DeviceLink::isOpen() const { return m_device && m_device->isOpen(); }

void DeviceLink::readAvailable()
{
    if (!m_device || m_batchTimer.isActive())
        return;
    // In automatic sending a reply comes about every millisecond; reading
    // each on its own wakes the program a thousand times a second. While
    // replies stream in, the port is told to keep what it has (its read
    // buffer limited to what it holds, so it stops reading on and waking us)
    // and everything is read together when the batch time is up. A reply
    // after a quiet spell, and every reply while one is awaited (a poll, an
    // exchange), is read at once.
    const bool streaming = m_pieceClock.isValid() && m_pieceClock.elapsed() < StreamGapMs;
    m_pieceClock.start();
    if (batching() && streaming) {
        holdPort(std::max<qint64>(1, m_device->bytesAvailable()));
        m_batchTimer.start(m_streamBatchMs);
        return;
    }
    releasePort();
    readNow();
}

bool DeviceLink::batching() const
{
    return m_streamBatchMs > 0 && !m_inFlight && !m_writing && qobject_cast<QSerialPort *>(m_device.data());
}

void DeviceLink::readHeld()
{
    if (!m_batchTimer.isActive())
        return;
    m_batchTimer.stop();
    endBatch();
}

void DeviceLink::endBatch()
{
    releasePort();
    if (!m_device || !m_device->isOpen())
        return;
    readNow();
    m_pieceClock.start(); // what the port read meanwhile still streams in
}

void DeviceLink::readNow()
{
    if (!m_device)
        return;
    const QByteArray piece = m_device->readAll();
    if (piece.isEmpty()) {
        if (++m_emptyReads >= HangUpEmptyReads)
            declareDeviceLost(tr("设备无响应（连接已断开）"));
        return;
    }
    m_emptyReads = 0;
    m_failedReads = 0;
    // Reported before the assembler hands on replies, whose handlers may
    // write the next frame at once: the watcher sees cause before effect.
    if (isTapped(&DeviceLink::bytesRead))
        emit bytesRead(piece);
    m_assembler.feed(piece);
}

QString DeviceLink::TextLineHeld()
{
    return tr("总线扫描正在进行，请等扫描结束后再试。");
}

// --- The queue -------------------------------------------------------------

quint64 DeviceLink::Request(LineRequest request, QObject *context, LineCallback done)
{
    Pending pending{m_nextId++, std::move(request), context, context != nullptr, std::move(done)};
    const quint64 id = pending.id;
    if (m_holder && pending.request.holder != m_holder) {
        Finish(std::move(pending), LineOutcome{LineOutcome::Status::Refused, {}, TextLineHeld(), false});
    } else if (!isOpen()) {
        // Closed by the loss of the device: that is told once, with the loss.
        Finish(std::move(pending), LineOutcome{LineOutcome::Status::Failed, {}, failText(tr("串口未打开。")),
                                               m_lostReported});
    } else {
        m_queue.push_back(std::move(pending));
        Dispatch();
    }
    return id;
}

void DeviceLink::Cancel(quint64 id)
{
    if (m_inFlight && m_inFlight->id == id) {
        // Its reply may still come: the line stays its own until then.
        m_inFlight->done = nullptr;
        return;
    }
    std::erase_if(m_queue, [id](const Pending &p) { return p.id == id; });
}

void DeviceLink::CancelPolls()
{
    if (m_inFlight && m_inFlight->request.kind == LineRequest::Kind::Poll)
        m_inFlight->done = nullptr;
    std::erase_if(m_queue, [](const Pending &p) { return p.request.kind == LineRequest::Kind::Poll; });
}

bool DeviceLink::Reserve(const void *holder)
{
    if (!holder || m_holder || LineBusy())
        return false;
    m_holder = holder;
    emit reservationChanged(true);
    return true;
}

void DeviceLink::Release(const void *holder)
{
    if (!holder || m_holder != holder)
        return;
    m_holder = nullptr;
    emit reservationChanged(false);
    Dispatch();
}

void DeviceLink::Dispatch()
{
    // Dispatch runs again from the outcomes it delivers; the outer call goes on.
    if (m_dispatching)
        return;
    m_dispatching = true;
    while (!m_inFlight && !m_queue.empty()) {
        // An operator's request goes before a waiting poll, but a poll that
        // has let one go first goes next: live reading keeps at least half
        // its pace under any run of requests.
        auto next = m_queue.begin();
        const auto poll = std::find_if(m_queue.begin(), m_queue.end(),
                                       [](const Pending &p) { return p.request.kind == LineRequest::Kind::Poll; });
        const auto other = std::find_if(m_queue.begin(), m_queue.end(),
                                        [](const Pending &p) { return p.request.kind != LineRequest::Kind::Poll; });
        if (poll != m_queue.end() && other != m_queue.end())
            next = m_pollPassedOver ? poll : other;
        const bool isPoll = next->request.kind == LineRequest::Kind::Poll;
        m_pollPassedOver = !isPoll && poll != m_queue.end();
        Pending pending = std::move(*next);
        m_queue.erase(next);

        if (m_holder && pending.request.holder != m_holder) {
            Finish(std::move(pending), LineOutcome{LineOutcome::Status::Refused, {}, TextLineHeld(), false});
            continue;
        }
        try {
            WriteFrame(pending.request.frame);
        } catch (const ReportedError &e) {
            Finish(std::move(pending),
                   LineOutcome{LineOutcome::Status::Failed, {}, QString::fromUtf8(e.what()), true});
            continue;
        } catch (const std::exception &e) {
            Finish(std::move(pending),
                   LineOutcome{LineOutcome::Status::Failed, {}, QString::fromUtf8(e.what()), false});
            continue;
        }
        ++m_requestsSent;
        if (!pending.request.command) {
            Finish(std::move(pending), LineOutcome{LineOutcome::Status::Answered, {}, {}, false});
            continue;
        }
        // The time-out runs from the end of the write; a reply the port
        // already holds is read at once.
        const int timeoutMs = pending.request.timeoutMs > 0 ? pending.request.timeoutMs : m_replyTimeoutMs;
        m_inFlight = std::move(pending);
        m_timerWait.start(timeoutMs);
        releasePort();
        if (m_batchTimer.isActive() && m_batchTimer.remainingTime() > 0)
            m_batchTimer.start(0);
    }
    m_dispatching = false;
}

void DeviceLink::Finish(Pending pending, LineOutcome outcome)
{
    // Told from the event loop, never from inside Request or the reply
    // handler: the caller has its id first, and a callback that asks again
    // never runs inside the assembler's feed.
    QMetaObject::invokeMethod(
        this, [this, pending = std::move(pending), outcome] { Deliver(pending, outcome); }, Qt::QueuedConnection);
}

void DeviceLink::Deliver(const Pending &pending, const LineOutcome &outcome)
{
    if (!pending.done || (pending.hasContext && !pending.context))
        return;
    pending.done(outcome);
}

void DeviceLink::RequestTimedOut()
{
    if (!m_inFlight)
        return;
    Pending ended = std::move(*m_inFlight);
    m_inFlight.reset();
    m_reply.ReplyTimedOut = true;
    Finish(std::move(ended), LineOutcome{LineOutcome::Status::TimedOut, {}, {}, false});
    Dispatch();
}

void DeviceLink::EndAll(LineOutcome::Status status, const QString &error, bool reported)
{
    m_timerWait.stop();
    std::deque<Pending> ended = std::exchange(m_queue, {});
    if (m_inFlight) {
        LineOutcome outcome{status, {}, error, reported};
        outcome.sent = true;
        Finish(std::move(*m_inFlight), outcome);
        m_inFlight.reset();
    }
    for (Pending &pending : ended)
        Finish(std::move(pending), LineOutcome{status, {}, error, reported});
}

void DeviceLink::HandleReply(const std::uint8_t *packet)
{
    const Reply reply = DecodeReply(packet);
    ++m_replyCount;
    const bool asked = m_inFlight && m_inFlight->request.command == reply.command
                       && (!m_inFlight->request.from || *m_inFlight->request.from == reply.address);
    if (!asked) {
        emit replyHandled(reply, false);
        return;
    }
    m_timerWait.stop();
    Pending ended = std::move(*m_inFlight);
    m_inFlight.reset();
    m_reply.ReplyCommand = reply.command;
    m_reply.ReplyValue = reply.value;
    m_reply.ReplyDone = true;
    m_reply.ReplyTimedOut = false;
    // A withdrawn request's reply is shown as any unasked one.
    emit replyHandled(reply, bool(ended.done));
    Finish(std::move(ended), LineOutcome{LineOutcome::Status::Answered, reply, {}, false});
    Dispatch();
}

// --- Writing and loss --------------------------------------------------------

void DeviceLink::WriteFrame(const QByteArray &frame)
{
    if (!isOpen())
        failWrite(tr("串口未打开。"));
    // A port holding a batch would fail the wait for the write below: it
    // reads on again, and the batch is read as soon as events are handled.
    releasePort();
    if (m_batchTimer.isActive())
        m_batchTimer.start(0);
    QIODevice *device = m_device;
    // The wait below reads what arrives meanwhile: the port must not be held then.
    const QScopedValueRollback<bool> writing(m_writing, true);
    const qint64 direct = WriteDirect(device, frame);
    if (direct < frame.size()) {
        const qint64 rest = frame.size() - direct;
        if (device->write(frame.constData() + direct, rest) != rest)
            failWrite(device->errorString());
    }
    // Reported before waiting for the write: the wait may already read the reply.
    if (isTapped(&DeviceLink::frameWritten))
        emit frameWritten(frame);
    const int timeoutMs = WriteTimeoutBaseMs + WriteTimeoutPerByteMs * int(frame.size());
    while (device->bytesToWrite() > 0) {
        if (!device->waitForBytesWritten(timeoutMs)) {
            // A write held up by failing reads is a hung-up line (the far end
            // is gone), found here before any read notification said so.
            auto *port = qobject_cast<QSerialPort *>(device);
            if (port && port->error() == QSerialPort::ReadError)
                declareDeviceLost(tr("写入失败，设备已断开。"));
            failWrite(device->errorString());
        }
    }
}

qint64 DeviceLink::WriteDirect(QIODevice *device, const QByteArray &frame)
{
#ifdef Q_OS_UNIX
    // A frame is a few bytes, which the driver takes at once: handed straight
    // to the port's descriptor it needs no write notification (with its
    // wake-ups) and no wait. Only with nothing of the port's own waiting to
    // go, so that the bytes stay in order; whatever the driver does not take
    // (or a failure, reported the port's way) goes through the port.
    auto *port = qobject_cast<QSerialPort *>(device);
    if (!port || port->bytesToWrite() > 0 || port->handle() < 0)
        return 0;
    qint64 written = 0;
    while (written < frame.size()) {
        const ssize_t n = ::write(port->handle(), frame.constData() + written, std::size_t(frame.size() - written));
        if (n > 0)
            written += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    return written;
#else
    Q_UNUSED(device);
    Q_UNUSED(frame);
    return 0;
#endif
}

QString DeviceLink::failText(const QString &reason) const
{
    if (m_lossUntold)
        return tr("串口写入失败：设备已断开。");
    return tr("串口写入失败：%1").arg(reason);
}

void DeviceLink::failWrite(const QString &reason) const
{
    // The device went away (perhaps during this very write): the loss is
    // reported once, not once more by every handler it cut short.
    if (m_lossUntold)
        throw ReportedError(failText(reason));
    throw OperatorError(failText(reason));
}

void DeviceLink::declareDeviceLost(const QString &reason)
{
    if (m_lostReported)
        return;
    m_lostReported = true;
    m_lossUntold = true;
    // The requests end as failed (told with the loss), not as cancelled by the close.
    EndAll(LineOutcome::Status::Failed, failText(reason), true);
    if (m_device && m_device->isOpen())
        m_device->close();
    m_reply.ReplyTimedOut = true;
    emit deviceLost(reason);
}
