#include "device/DeviceLink.h"

#include "io/OperatorError.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QSerialPort>

#include <algorithm>

namespace {
// Read notifications in a row that bring no bytes, or failed reads in a row,
// before a port that still claims to be open is taken as hung up.
constexpr int HangUpEmptyReads = 64;
constexpr int HangUpFailedReads = 3;
} // namespace

DeviceLink::DeviceLink(QObject *parent, int replyTimeoutMs) : QObject(parent)
{
    m_timerWait.setInterval(replyTimeoutMs);
    connect(&m_timerWait, &QTimer::timeout, this, &DeviceLink::TimerWaitTimer);
    m_assembler.setPacketHandler([this](const std::uint8_t *packet) { HandleReply(packet); });
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
    connect(device, &QIODevice::readyRead, this, &DeviceLink::readAvailable);
    if (auto *port = qobject_cast<QSerialPort *>(device)) {
        connect(port, &QSerialPort::errorOccurred, this, [this, port](QSerialPort::SerialPortError error) {
            if (error == QSerialPort::ResourceError) {
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
    return m_streamBatchMs > 0 && !m_timerWait.isActive() && qobject_cast<QSerialPort *>(m_device.data());
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

void DeviceLink::SendFrame(const QByteArray &frame)
{
    if (!isOpen())
        failWrite(tr("串口未打开。"));
    // A port holding a batch would fail the wait for the write below: it
    // reads on again, and the batch is read as soon as events are handled.
    releasePort();
    if (m_batchTimer.isActive())
        m_batchTimer.start(0);
    QIODevice *device = m_device;
    const qint64 written = device->write(frame);
    if (written != frame.size())
        failWrite(device->errorString());
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

void DeviceLink::failWrite(const QString &reason) const
{
    // The device went away (perhaps during this very write): the loss is
    // reported once, not once more by every handler it cut short.
    if (m_lossUntold)
        throw ReportedError(tr("串口写入失败：设备已断开。"));
    throw OperatorError(tr("串口写入失败：%1").arg(reason));
}

bool DeviceLink::Exchange(const QByteArray &frame)
{
    SendFrame(frame);
    StartTimerWait();
    m_reply.ReplyTimedOut = false;
    m_reply.ReplyDone = false;
    WaitForReply();
    return m_reply.ReplyDone;
}

void DeviceLink::StartTimerWait()
{
    if (!m_timerWait.isActive())
        m_timerWait.start();
    // A reply is awaited: what the port holds is read at once.
    releasePort();
    if (m_batchTimer.isActive() && m_batchTimer.remainingTime() > 0)
        m_batchTimer.start(0);
}

void DeviceLink::WaitForReply()
{
    while (!m_reply.ReplyDone && !m_reply.ReplyTimedOut)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void DeviceLink::AbortExchange()
{
    m_timerWait.stop();
    m_reply.ReplyDone = true;
    emit waitAborted();
}

void DeviceLink::TimerWaitTimer()
{
    m_timerWait.stop();
    m_reply.ReplyTimedOut = true;
    emit waitTimedOut();
}

void DeviceLink::HandleReply(const std::uint8_t *packet)
{
    const Reply reply = DecodeReply(packet);
    ++m_replyCount;
    m_reply.ReplyCommand = reply.command;
    m_reply.ReplyValue = reply.value;
    m_reply.ReplyDone = true;
    m_timerWait.stop();
    m_reply.ReplyTimedOut = false;
    emit replyHandled(reply);
}

void DeviceLink::declareDeviceLost(const QString &reason)
{
    if (m_lostReported)
        return;
    m_lostReported = true;
    m_lossUntold = true;
    if (m_device && m_device->isOpen())
        m_device->close();
    m_timerWait.stop();
    m_reply.ReplyTimedOut = true;
    emit deviceLost(reason);
}
