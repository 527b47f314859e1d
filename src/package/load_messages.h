// Texts and captions of the load and generation result codes.
#pragma once

#include <cstdint>

struct ResultMessage {
    const char* text;
    const char* caption;
};

// Generation refusals of the maintenance dialog; nothing is written.
inline constexpr uint8_t LOAD_NO_CUSTOMER = 16;      // no entry of the Customer list selected
inline constexpr uint8_t LOAD_FILTER_REVISION = 17;  // "=" where the revision has no character

ResultMessage LoadResultMessage(uint8_t code);
