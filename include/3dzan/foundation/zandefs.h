/// \file zandefs.h
/// \brief Basic definitions shared by every 3DZan header: export marks, tags and sentinels.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(ZAN3D_STATIC)
#define ZAN_API
#else
#define ZAN_API __attribute__((visibility("default")))
#endif

/// \brief Builds a four-character code; the first character is the most significant byte.
///
/// `ZanTag("3DCO")` is 0x3344434F.
constexpr uint32_t ZanTag(const char (&text)[5])
{
    return (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
           (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
}

/// \brief The "none" value of IDs, indices and positions.
constexpr uint32_t kZanNone = 0xFFFFFFFFu;
