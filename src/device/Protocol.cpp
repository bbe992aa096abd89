#include "device/Protocol.h"

std::uint8_t XorCheck(const std::uint8_t *bytes, std::size_t count)
{
    std::uint8_t check = 0;
    for (std::size_t i = 0; i < count; ++i)
        check ^= bytes[i];
    return check;
}

QueryFrame BuildQueryFrame(DeviceAddress address, CommandCode command)
{
    QueryFrame frame{QueryStart, address, command, 0, FrameEnd};
    frame[3] = XorCheck(frame.data(), 3);
    return frame;
}

DataFrame BuildDataFrame(DeviceAddress address, CommandCode command, std::int32_t value)
{
    DataFrame frame{DataStart, address, command};
    EncodeValue(value, frame.data() + 3);
    frame[7] = XorCheck(frame.data(), 7);
    frame[8] = FrameEnd;
    return frame;
}

std::int32_t DecodeValue(const std::uint8_t *bytes)
{
    const std::uint32_t raw = (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16)
                              | (std::uint32_t(bytes[2]) << 8) | std::uint32_t(bytes[3]);
    return static_cast<std::int32_t>(raw); // two's complement, well defined since C++20
}

void EncodeValue(std::int32_t value, std::uint8_t *bytes)
{
    const auto raw = static_cast<std::uint32_t>(value);
    bytes[0] = static_cast<std::uint8_t>(raw >> 24);
    bytes[1] = static_cast<std::uint8_t>(raw >> 16);
    bytes[2] = static_cast<std::uint8_t>(raw >> 8);
    bytes[3] = static_cast<std::uint8_t>(raw);
}

Reply DecodeReply(const std::uint8_t *packet)
{
    return Reply{packet[0], packet[1], DecodeValue(packet + 2)};
}

bool ReplyIsWhole(const std::uint8_t *packet)
{
    return (XorCheck(packet, ReplyPacketSize - 2) ^ DataStart) == packet[ReplyPacketSize - 2]
           && packet[ReplyPacketSize - 1] == FrameEnd;
}
