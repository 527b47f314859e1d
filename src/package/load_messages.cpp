#include "package/load_messages.h"

ResultMessage LoadResultMessage(LoadResult code) {
    switch (code) {
        case LOAD_PARAM_OPEN:
            return {"Can not open Parameter file.", "File open error"};
        case LOAD_PARAM_DATA:
            return {"Invalid data in Parameter file.", "File data error"};
        case LOAD_MAIN_OPEN:
            return {"Can not open Main program file.", "File open error"};
        case LOAD_MAIN_INVALID:
            return {"Invalid data in Main program file.", "File data error"};
        case LOAD_MAIN_BROKEN:
            return {"Main program file may be broken.", "File data error"};
        case LOAD_CORE_OPEN:
            return {"Can not open Core program file.", "File open error"};
        case LOAD_CORE_INVALID:
            return {"Invalid data in Core program file.", "File data error"};
        case LOAD_CORE_BROKEN:
            return {"Core program file may be broken.", "File data error"};
        case LOAD_OUTPUT_OPEN:
            return {"Can not open output file.", "File open error"};
        case LOAD_NO_ENGINE:
            return {"Can not open Updater engine.", "File open error"};
        case LOAD_OUTPUT_TOO_LARGE:
            return {"The updater would be larger than 4 MiB (4194304 bytes).", "File data error"};
        case LOAD_OUTPUT_WRITE:
            return {"Can not write output file.", "File write error"};
        case LOAD_MAIN_TOO_SMALL:
            return {
                "The Main program file is smaller than 64 KiB (65536 bytes); an updater "
                "would take it for a Core image.",
                "File data error"};
        case LOAD_CORE_TOO_LARGE:
            return {
                "The Core program file is 64 KiB (65536 bytes) or larger; an updater "
                "would take it for a Main image.",
                "File data error"};
        case LOAD_UPDATER_MAIN_INVALID:
            return {
                "The updater would refuse its Main image: invalid data (length, section "
                "tag or code size). Nothing was written.",
                "Generation error"};
        case LOAD_UPDATER_MAIN_BROKEN:
            return {
                "The updater would find its Main image broken: its word sum, taken as the "
                "updater takes it (an odd length pairs the last byte with the first byte "
                "of the Core image), is wrong. Nothing was written.",
                "Generation error"};
        case LOAD_UPDATER_CORE_INVALID:
            return {
                "The updater would refuse its Core image: invalid data (length, section "
                "tag or code size). Nothing was written.",
                "Generation error"};
        case LOAD_UPDATER_CORE_BROKEN:
            return {
                "The updater would find its Core image broken: its word sum is wrong. "
                "Nothing was written.",
                "Generation error"};
        case LOAD_UPDATER_UNREADABLE:
            return {
                "The updater would not read its own package back as written. Nothing "
                "was written.",
                "Generation error"};
        case LOAD_NO_CUSTOMER:
            return {"No Customer entry is selected. Select an entry of the Customer list.",
                    "Generation error"};
        case LOAD_FILTER_REVISION:
            return {
                "An Inquiry Rev. Filter box holds \"=\" at a position that the revision "
                "does not have.",
                "Generation error"};
        case LOAD_OK:
            break;
    }
    return {"Unknown error was occured.", "File open error"};
}
