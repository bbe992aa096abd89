#include "LineWait.h"

#include "io/OperatorError.h"

#include <QCoreApplication>

#include <optional>

bool ExchangeNow(DeviceLink &link, LineRequest request)
{
    std::optional<LineOutcome> outcome;
    QObject guard;
    link.Request(std::move(request), &guard, [&outcome](const LineOutcome &o) { outcome = o; });
    while (!outcome)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ReplyState &state = link.reply();
    switch (outcome->status) {
    case LineOutcome::Status::Answered:
        // Unasked replies handled meanwhile may have overwritten the shared state.
        state.ReplyCommand = outcome->reply.command;
        state.ReplyValue = outcome->reply.value;
        state.ReplyDone = true;
        state.ReplyTimedOut = false;
        return true;
    case LineOutcome::Status::Failed:
        if (outcome->errorReported && outcome->sent)
            return false;
        if (outcome->errorReported)
            throw ReportedError(outcome->error);
        throw OperatorError(outcome->error);
    case LineOutcome::Status::Refused:
        throw OperatorError(outcome->error);
    case LineOutcome::Status::TimedOut:
        state.ReplyTimedOut = true;
        return false;
    case LineOutcome::Status::Cancelled:
        return false;
    }
    return false;
}

bool ExchangeNow(DeviceLink &link, const QueryFrame &frame) { return ExchangeNow(link, LineRequest::For(frame)); }
bool ExchangeNow(DeviceLink &link, const DataFrame &frame) { return ExchangeNow(link, LineRequest::For(frame)); }

void SendFrameNow(DeviceLink &link, const QByteArray &frame)
{
    LineRequest request;
    request.frame = frame;
    ExchangeNow(link, std::move(request));
}

void SendFrameNow(DeviceLink &link, const QueryFrame &frame) { SendFrameNow(link, DeviceLink::toBytes(frame)); }
void SendFrameNow(DeviceLink &link, const DataFrame &frame) { SendFrameNow(link, DeviceLink::toBytes(frame)); }
