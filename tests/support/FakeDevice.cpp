#include "FakeDevice.h"

#include <QPointer>
#include <QTimer>

#include <cstring>

FakeDevice::FakeDevice(QObject *parent) : QIODevice(parent) { open(QIODevice::ReadWrite | QIODevice::Unbuffered); }

void FakeDevice::deliver(const QByteArray &bytes, int delayMs)
{
    QPointer<FakeDevice> self(this);
    QTimer::singleShot(delayMs, this, [self, bytes] {
        if (!self || !self->isOpen())
            return;
        self->m_incoming.append(bytes);
        emit self->readyRead();
    });
}

qint64 FakeDevice::readData(char *data, qint64 maxSize)
{
    const qint64 n = qMin<qint64>(maxSize, m_incoming.size());
    std::memcpy(data, m_incoming.constData(), size_t(n));
    m_incoming.remove(0, n);
    return n;
}

qint64 FakeDevice::writeData(const char *data, qint64 size)
{
    if (m_failWrites) {
        setErrorString(QStringLiteral("simulated write failure"));
        return -1;
    }
    const QByteArray frame(data, size);
    m_written.append(frame);
    if (m_responder)
        m_responder(frame);
    return size;
}
