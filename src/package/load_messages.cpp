#include "package/load_messages.h"

#include "package/update_data.h"

ResultMessage LoadResultMessage(uint8_t code) {
    switch (code) {
        case 1:
            return {"Can not open Parameter file.", "File open error"};
        case 2:
            return {"Invalid data in Parameter file.", "File data error"};
        case 3:
            return {"Can not open Main program file.", "File open error"};
        case 4:
            return {"Invalid data in Main program file.", "File data error"};
        case 5:
            return {"Main program file may be broken.", "File data error"};
        case 6:
            return {"Can not open Core program file.", "File open error"};
        case 7:
            return {"Invalid data in Core program file.", "File data error"};
        case 8:
            return {"Core program file may be broken.", "File data error"};
        case 9:
            return {"Can not open output file.", "File open error"};
        case 13:
            return {"Can not open Updater engine.", "File open error"};
        case LOAD_OUTPUT_TOO_LARGE:
            return {"The updater would be larger than 4 MiB (4194304 bytes).", "File data error"};
        case LOAD_OUTPUT_WRITE:
            return {"Can not write output file.", "File write error"};
        case LOAD_NO_CUSTOMER:
            return {"No Customer entry is selected. Select an entry of the Customer list.",
                    "Generation error"};
        case LOAD_FILTER_REVISION:
            return {
                "An Inquiry Rev. Filter box holds \"=\" at a position that the revision "
                "does not have.",
                "Generation error"};
        default:
            return {"Unknown error was occured.", "File open error"};
    }
}
