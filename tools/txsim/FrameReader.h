#pragma once
// Cuts request frames out of the byte stream a module receives: 5-byte queries
// "?" addr cmd check "#" and 9-byte data frames "=" addr cmd v3 v2 v1 v0 check "#".
// Bytes before a start byte are skipped; a candidate whose check byte or end
// byte is wrong is rejected and the search goes on from the byte after its start.

#include "SimModule.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class FrameReader
{
public:
    struct Item {
        bool valid = false;              ///< false: a rejected candidate
        std::vector<std::uint8_t> bytes; ///< the frame's (or candidate's) bytes
        RequestFrame frame;              ///< decoded, when valid
    };

    void append(const std::uint8_t *bytes, std::size_t count);

    /// The next complete frame or rejected candidate, or nothing while more bytes are needed.
    std::optional<Item> next();

    /// True while the buffer holds the start of a frame that is not complete yet.
    bool hasPartialFrame() const;

    /// Gives up on an incomplete frame (the line went quiet in the middle of it):
    /// returns its bytes and drops its start byte, so the rest is searched again.
    std::vector<std::uint8_t> abandonPartialFrame();

    std::size_t buffered() const { return m_buffer.size() - m_head; }

private:
    void skipToStartByte();
    void consume(std::size_t count);

    std::vector<std::uint8_t> m_buffer;
    std::size_t m_head = 0;
};
