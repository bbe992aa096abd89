#pragma once
// An in-memory serial line for tests of the device link: what the program
// writes is recorded, and "module" bytes are delivered later from the event
// loop, as a real port would deliver them.

#include <QByteArray>
#include <QIODevice>
#include <QList>

#include <functional>

class FakeDevice : public QIODevice
{
    Q_OBJECT
public:
    explicit FakeDevice(QObject *parent = nullptr);

    /// Bytes arrive from the line at the next pass of the event loop (or after `delayMs`).
    void deliver(const QByteArray &bytes, int delayMs = 0);
    /// Called for every frame the program writes; may call deliver() to answer.
    void setResponder(std::function<void(const QByteArray &frame)> responder) { m_responder = std::move(responder); }

    QList<QByteArray> written() const { return m_written; }
    void clearWritten() { m_written.clear(); }
    void setFailWrites(bool fail) { m_failWrites = fail; }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_incoming.size() + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    QByteArray m_incoming;
    QList<QByteArray> m_written;
    std::function<void(const QByteArray &)> m_responder;
    bool m_failWrites = false;
};
