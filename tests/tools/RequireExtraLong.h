// Sector reads and transfers need the library's 64-bit arithmetic; until the
// library can be activated those tests are skipped rather than failed.
#pragma once

#include <gtest/gtest.h>

#include "engine/RawDevice.h"
#include "support/RuntimeError.h"

#define REQUIRE_EXTRA_LONG()                                                             \
    do {                                                                                 \
        try {                                                                            \
            engine::SharedExtraLong();                                                   \
        } catch (const support::RuntimeError& error) {                                   \
            GTEST_SKIP() << "the library's ExtraLong is not available: " << error.what(); \
        }                                                                                \
    } while (0)
