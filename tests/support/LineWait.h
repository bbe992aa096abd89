#pragma once
// Waiting for a request, as a test or a benchmark does: the request goes
// through the link's queue like any other, and the caller handles events
// until it has ended. The program itself never waits like this.

#include "device/DeviceLink.h"

/// Sends the frame as a request for its own reply and waits for its end;
/// true when answered (the reply is then in link.reply()). Throws
/// OperatorError when it could not go out, unless the device went away while
/// the reply was awaited (then false).
bool ExchangeNow(DeviceLink &link, LineRequest request);
bool ExchangeNow(DeviceLink &link, const QueryFrame &frame);
bool ExchangeNow(DeviceLink &link, const DataFrame &frame);
/// Writes a frame that awaits no reply and waits until it is written.
void SendFrameNow(DeviceLink &link, const QueryFrame &frame);
void SendFrameNow(DeviceLink &link, const DataFrame &frame);
void SendFrameNow(DeviceLink &link, const QByteArray &frame);
