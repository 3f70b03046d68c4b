// Tests whose point needs what only Linux has (links anyone may make, a shell, chattr,
// mounts, strace) skip on Windows, saying what they need.
#pragma once

#include <gtest/gtest.h>

#ifdef _WIN32
#define KESTRANE_LINUX_ONLY(why) GTEST_SKIP() << "needs " << why << ", which Windows has not"
#else
#define KESTRANE_LINUX_ONLY(why) static_cast<void>(0)
#endif
