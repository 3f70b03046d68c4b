// The busy window's picture: the bytes of app/resources/busy_picture.jpg, embedded in the
// program at build time (app/resources/busy_picture.cmake generates the definition).
#pragma once

#include <cstdint>
#include <span>

namespace kestrane {

std::span<const std::uint8_t> busyPictureJpeg();

} // namespace kestrane
