// Drive answers in words: the sense key and the common additional sense codes of fixed-format
// sense data, and the names of the commands the program sends.
#pragma once

#include <cstdint>
#include <string>

// "NOT READY: medium not present" for fixed-format sense data (response code 70h/71h) of at
// least 14 bytes; "NOT READY: ASC/ASCQ 04/99" for a code without words here; empty for
// anything else (no sense data, or sense key 0 with ASC/ASCQ 00/00).
std::string SenseWords(const uint8_t* sense);

// "NOT READY", "ILLEGAL REQUEST", ...; "SENSE KEY 0F" for a key without a name.
std::string SenseKeyName(uint8_t key);

// "WRITE BUFFER", "SEND DIAGNOSTIC", ... for the commands the program sends; otherwise
// "command 4A".
std::string CommandName(uint8_t opcode);
