#include "link.h"

#include <cstdio>

FT_HANDLE ftHandle = nullptr;
FT_STATUS ftStatus = FT_OK;

// Prints the chip layer's advice, if it knows why the last call failed.
static void printFailureHint()
{
    if (const char *hint = ftFailureHint())
        printf("%s\n", hint);
}

bool openConnection()
{
    DWORD devices = 0;
    ftStatus = FT_ListDevices(&devices, nullptr, FT_LIST_NUMBER_ONLY);
    if (ftStatus != FT_OK) {
        printf("FT_ListDevices failed\n");
        printFailureHint();
        return false;
    }
    printf("FT_ListDevices OK, number of devices is %u. \n", static_cast<unsigned>(devices));

    ftStatus = FT_Open(0, &ftHandle);
    if (ftStatus != FT_OK) {
        printf("FT_Open failed\n");
        printFailureHint();
        return false;
    }
    printf("FT_Open OK, use ftHandle to access device\n");
    return true;
}

void setConnectionTimeouts()
{
    FT_SetTimeouts(ftHandle, 500, 0);
}

void closeConnection()
{
    FT_Close(ftHandle);
    ftHandle = nullptr;
}
