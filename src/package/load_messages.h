// Texts and captions of the load and generation result codes.
#pragma once

#include "package/results.h"

struct ResultMessage {
    const char* text;
    const char* caption;
};

// The message of a load or generation result; "Unknown error was occured." for a code
// without one.
ResultMessage LoadResultMessage(LoadResult code);
