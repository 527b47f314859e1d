// Texts and captions of the load and generation result codes.
#pragma once

#include <cstdint>

struct ResultMessage {
    const char* text;
    const char* caption;
};

ResultMessage LoadResultMessage(uint8_t code);
