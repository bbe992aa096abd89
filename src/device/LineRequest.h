#pragma once
// A request for the line and how it ended. The line is half-duplex and the
// modules answer one request at a time, so requests wait in the link's queue
// and go out one by one: the next one only when the last one's own reply has
// come or its time-out has run out.

#include "device/Protocol.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

struct LineRequest {
    /// Who asks: an operator's request (a button, a parameter window, a
    /// calibration step) goes before a waiting poll; live-reading polls fill
    /// the line between them.
    enum class Kind { Operator, Poll };

    QByteArray frame;
    /// The reply that ends the request: from this address (none: any module,
    /// for the broadcasts) with this command byte. No command: nothing is
    /// awaited, the request ends once the frame is written.
    std::optional<DeviceAddress> from;
    std::optional<CommandCode> command;
    /// Time-out of the reply; 0: the link's own (2000 ms as shipped).
    int timeoutMs = 0;
    Kind kind = Kind::Operator;
    /// The holder of the line (see DeviceLink::Reserve); null for everyone else.
    const void *holder = nullptr;

    /// A query or data frame awaiting the reply to its own command from the
    /// address it went to (any address for a broadcast).
    template <std::size_t N> static LineRequest For(const std::array<std::uint8_t, N> &bytes)
    {
        LineRequest request;
        request.frame = QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(N));
        if (bytes[1] != BroadcastAddress)
            request.from = bytes[1];
        request.command = bytes[2];
        return request;
    }
    /// A frame that is only written (no reply awaited).
    template <std::size_t N> static LineRequest WriteOnly(const std::array<std::uint8_t, N> &bytes)
    {
        LineRequest request = For(bytes);
        request.from.reset();
        request.command.reset();
        return request;
    }
    LineRequest &asPoll()
    {
        kind = Kind::Poll;
        return *this;
    }
    LineRequest &withTimeout(int ms)
    {
        timeoutMs = ms;
        return *this;
    }
    LineRequest &heldBy(const void *owner)
    {
        holder = owner;
        return *this;
    }
};

struct LineOutcome {
    enum class Status {
        Answered,  ///< its reply came (reply holds it), or it was written when no reply is awaited
        TimedOut,  ///< no reply of its own within the time-out
        Failed,    ///< not written: the port is closed, the write failed or the device is gone
        Refused,   ///< the line is held by someone else (a bus scan)
        Cancelled, ///< withdrawn, or the port was closed or reopened before it ended
    };
    Status status = Status::TimedOut;
    Reply reply{};
    /// Why it failed or was refused, in the operator's words.
    QString error;
    /// The operator is told of the failure elsewhere (the device went away).
    bool errorReported = false;
    /// The frame went out (a failure came while its reply was awaited).
    bool sent = false;

    bool answered() const { return status == Status::Answered; }
    /// Asked but not answered: it timed out, or the device went away while
    /// its reply was awaited (the loss itself is told elsewhere).
    bool unanswered() const { return status == Status::TimedOut || (status == Status::Failed && sent); }
};

using LineCallback = std::function<void(const LineOutcome &)>;
