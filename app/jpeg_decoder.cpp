#include "app/jpeg_decoder.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

namespace kestrane {

// libjpeg's state for one decoder. Plain C data only: libjpeg leaves a failing call through
// longjmp, which must not skip a C++ destructor.
struct JpegDecoder::Session {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf jump{};
    char message[JMSG_LENGTH_MAX] = {};
    bool created = false;
    // Output of the step being run.
    std::uint8_t* rows = nullptr;
    std::size_t rowBytes = 0;
};

namespace {

using Session = JpegDecoder::Session;

// Pictures larger than this are refused rather than allocated: the window's picture is tiny.
constexpr unsigned long long kMaxPixels = 64ull * 1024 * 1024;

void failWithJump(j_common_ptr info) {
    auto* session = static_cast<Session*>(info->client_data);
    (*info->err->format_message)(info, session->message);
    std::longjmp(session->jump, 1);
}

void keepQuiet(j_common_ptr /*info*/, int /*level*/) {}

// Steps run under runGuarded: only plain C calls and raw pointers in their frames.
void readHeader(Session& s) {
    jpeg_read_header(&s.info, TRUE);
    s.info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&s.info);
}

void readRows(Session& s) {
    while (s.info.output_scanline < s.info.output_height) {
        JSAMPROW row = s.rows + static_cast<std::size_t>(s.info.output_scanline) * s.rowBytes;
        jpeg_read_scanlines(&s.info, &row, 1);
    }
    jpeg_finish_decompress(&s.info);
}

// The only place that calls setjmp. A libjpeg error inside `step` jumps back here and is
// returned as false; no C++ object with a destructor lives in this frame or in `step`'s.
bool runGuarded(Session& s, void (*step)(Session&)) {
    if (setjmp(s.jump) != 0)
        return false;
    step(s);
    return true;
}

void createDecompressor(Session& s) { jpeg_create_decompress(&s.info); }

} // namespace

JpegDecoder::JpegDecoder() : m_session(std::make_unique<Session>()) {
    Session& s = *m_session;
    s.info.err = jpeg_std_error(&s.errors);
    s.errors.error_exit = failWithJump;
    s.errors.emit_message = keepQuiet;
    s.info.client_data = &s;
    s.created = runGuarded(s, createDecompressor);
}

JpegDecoder::~JpegDecoder() {
    if (m_session->created)
        jpeg_destroy_decompress(&m_session->info);
}

std::optional<JpegImage> JpegDecoder::decode(std::span<const std::uint8_t> bytes) {
    Session& s = *m_session;
    m_error.clear();
    if (!s.created) {
        m_error = "libjpeg could not create a decompressor";
        return std::nullopt;
    }
    if (bytes.empty()) {
        m_error = "no JPEG data";
        return std::nullopt;
    }
    // A decoder may be reused: abort whatever an earlier call left behind.
    jpeg_abort_decompress(&s.info);
    jpeg_mem_src(&s.info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (!runGuarded(s, readHeader)) {
        m_error = s.message;
        jpeg_abort_decompress(&s.info);
        return std::nullopt;
    }

    if (static_cast<unsigned long long>(s.info.output_width) * s.info.output_height > kMaxPixels) {
        m_error = "JPEG picture too large";
        jpeg_abort_decompress(&s.info);
        return std::nullopt;
    }

    JpegImage image;
    image.width = static_cast<int>(s.info.output_width);
    image.height = static_cast<int>(s.info.output_height);
    image.components = s.info.num_components;
    if (s.info.saw_JFIF_marker) {
        image.densityUnit = s.info.density_unit;
        image.xDensity = s.info.X_density;
        image.yDensity = s.info.Y_density;
    }
    s.rowBytes = static_cast<std::size_t>(s.info.output_width) * s.info.output_components;
    image.rgb.resize(s.rowBytes * s.info.output_height);
    s.rows = image.rgb.data();
    const bool complete = runGuarded(s, readRows);
    s.rows = nullptr;
    if (!complete) {
        m_error = s.message;
        jpeg_abort_decompress(&s.info);
        return std::nullopt;
    }
    return image;
}

} // namespace kestrane
