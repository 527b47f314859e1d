// The updater's string table: a Japanese text at each even id, its English partner at
// the next odd id (101 to 149; 144 and 145 unused). Shared by every window.
#pragma once

#include <string>

enum StringId : unsigned {
    IDS_ABOUT_MENU = 101,
    IDS_SELECT_DRIVE = 103,
    IDS_NO_TARGET = 105,
    IDS_CURRENT_VERSION = 107,
    IDS_NEW_VERSION = 109,
    IDS_UPDATE = 111,
    IDS_REBOOT = 113,
    IDS_EXIT = 115,
    IDS_CLOSE_APPS = 117,
    IDS_UPDATE_OK = 119,
    IDS_UPDATING = 121,
    IDS_HEADLINE = 123,
    IDS_FOLLOWING_DRIVE = 125,
    IDS_FILE_DESTROYED = 127,
    IDS_UPDATE_FAILED = 129,
    IDS_REMOVE_DISC = 131,
    IDS_REBOOT_FAILED = 133,
    IDS_REBOOTING = 135,
    IDS_NOT_NECESSARY = 137,
    IDS_FILE_BROKEN = 139,
    IDS_ALL_TARGETS = 141,
    IDS_UNITS = 143,
    IDS_SAME_OR_OLDER = 149,
};

// The text of id as 8-bit text (UTF-8); empty for an id that is not in the table.
std::string LoadText(unsigned id);
