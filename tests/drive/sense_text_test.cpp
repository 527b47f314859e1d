// Sense data in words: the key, and the additional sense code where it is a common one.
#include "drive/sense_text.h"

#include <gtest/gtest.h>

namespace {

TEST(SenseWords, KeyAndCommonCodes) {
    const struct {
        uint8_t code, key, asc, ascq;
        const char* words;
    } cases[] = {
        {0x70, 0x2, 0x3A, 0x00, "NOT READY: medium not present"},
        {0x71, 0x2, 0x04, 0x01, "NOT READY: logical unit is in process of becoming ready"},
        {0x70, 0x5, 0x2C, 0x00, "ILLEGAL REQUEST: command sequence error"},
        {0x70, 0x6, 0x3F, 0x16, "UNIT ATTENTION: microcode has been changed without reset"},
        {0x70, 0xB, 0x4B, 0x03, "ABORTED COMMAND: ACK/NAK timeout"},
        {0xF0, 0x3, 0x0C, 0x00, "MEDIUM ERROR: write error"},  // valid bit set
        {0x70, 0x2, 0x04, 0x99, "NOT READY: ASC/ASCQ 04/99"},  // no words for it
        {0x70, 0x4, 0x00, 0x00, "HARDWARE ERROR"},
        {0x70, 0xC, 0x80, 0x01, "SENSE KEY 0C: ASC/ASCQ 80/01"},
        {0x70, 0x0, 0x00, 0x00, ""},  // nothing to say
        {0x00, 0x2, 0x3A, 0x00, ""},  // no sense data
        {0x72, 0x2, 0x3A, 0x00, ""},  // descriptor format: the transport rewrites it first
    };
    for (const auto& c : cases) {
        uint8_t sense[24] = {};
        sense[0] = c.code;
        sense[2] = c.key;
        sense[12] = c.asc;
        sense[13] = c.ascq;
        EXPECT_EQ(c.words, SenseWords(sense)) << c.words;
    }
    EXPECT_EQ("SEND DIAGNOSTIC", CommandName(0x1D));
    EXPECT_EQ("command 4A", CommandName(0x4A));
}

}  // namespace
