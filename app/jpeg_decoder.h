// Decodes a baseline or progressive JPEG held in memory into 8-bit RGB rows with libjpeg.
// The busy window decodes its picture with it when the window is created.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrane {

struct JpegImage {
    int width = 0;
    int height = 0;
    int components = 0;  // colour components stored in the file (3 for YCbCr)
    int densityUnit = 0; // JFIF: 0 aspect ratio only, 1 dots per inch, 2 per cm
    int xDensity = 0;
    int yDensity = 0;
    std::vector<std::uint8_t> rgb; // height rows of width × 3 bytes, red first
};

// One libjpeg decompressor; the destructor releases it whatever state it is in.
class JpegDecoder {
public:
    JpegDecoder();
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    // The decoded picture, or nullopt when the bytes are not a JPEG libjpeg can read to the
    // end (errorMessage() then says why). Warnings about recoverable damage do not fail it.
    std::optional<JpegImage> decode(std::span<const std::uint8_t> bytes);
    const std::string& errorMessage() const { return m_error; }

    struct Session; // libjpeg's state, defined in the .cpp

private:
    std::unique_ptr<Session> m_session;
    std::string m_error;
};

} // namespace kestrane
