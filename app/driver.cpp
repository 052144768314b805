// The command line and the fixed order of a run: banner, arguments, file,
// device connection, transfer buffer, transfer phase, clean-up.
#include "app.h"
#include "console.h"
#include "link.h"

#include <cctype>
#include <cstdio>
#include <string>

static const size_t transferBufferSize = 65536;

bool hexToInt(const char *text, uint32_t *value)
{
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text += 2;
    if (*text == '\0')
        return false;
    uint32_t result = 0;
    for (; *text; ++text) {
        char c = *text;
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            return false;
        if (result > 0x0FFFFFFF)
            return false;  // a ninth significant digit: above FFFFFFFF
        result = result << 4 | digit;
    }
    *value = result;
    return true;
}

// A number argument, refused with a message when it isn't hexadecimal.
static bool readNumber(const char *argument, uint32_t *value)
{
    if (hexToInt(argument, value))
        return true;
    printf("Invalid hexadecimal number %s.\n", argument);
    return false;
}

static bool isMode(const char *argument, char letter)
{
    return argument[0] == '-' &&
           std::tolower(static_cast<unsigned char>(argument[1])) == letter &&
           argument[2] == '\0';
}

static void printUsage()
{
    printf("usage:qz4826s1 -w filename [offset_address] \n");
    printf("      qz4826s1 -r filename length [offset_address] \n");
    printf("-r : read from SDRAM to file\n");
    printf("-w : write to SDRAM from file\n");
    printf("\n");
}

// Read mode's file: asks before overwriting one that exists, then creates or
// truncates it. Null when the answer was no or the file can't be created.
static FILE *openOutputFile(const char *name, bool *refused)
{
    FILE *probe = fopen(name, "rb");
    if (probe) {
        fclose(probe);
        std::string question = std::string("Overwrite file:") + name + " OK?(Y/N) ";
        printf("%s", question.c_str());
        fflush(stdout);
        if (!readYesKey(question.c_str())) {
            *refused = true;
            return nullptr;
        }
    }
    return fopen(name, "wb");
}

int runTool(int argc, char *argv[])
{
    initConsole();
    printf("\nQZ4826 USB=>SDRAM test program Version 1.1 (c) the qz4826s1 developers\n");
    if (argc < 3) {
        printUsage();
        return -1;
    }

    const char *fileName = argv[2];
    Mode mode = Mode::Write;
    uint32_t length = 0;
    uint32_t offset = 0;
    FILE *file = nullptr;

    if (isMode(argv[1], 'r')) {
        mode = Mode::Read;
        if (argc < 4) {
            printf("Missing data length.\n");
            return -1;
        }
        if (!readNumber(argv[3], &length))
            return -1;
        printf("Receive %u bytes data from SDRAM to file %s ...\n", length, fileName);
        if (argc >= 5) {
            if (!readNumber(argv[4], &offset))
                return -1;
            printf("Memory address offset : %08X\n", offset);
        }
        bool refused = false;
        file = openOutputFile(fileName, &refused);
        if (refused)
            return -1;
    } else if (isMode(argv[1], 'w')) {
        file = fopen(fileName, "rb");
        printf("send data from file %s to SDRAM ...\n", fileName);
        if (argc >= 4) {
            if (!readNumber(argv[3], &offset)) {
                if (file)
                    fclose(file);
                return -1;
            }
            printf("Memory address offset : 0x%08X\n", offset);
        }
    }

    if (!file) {
        printf("File not found %s.\n", fileName);
        return -1;
    }

    // whole 32 KiB blocks go straight to and from the file: no stdio copy, and
    // a failed write shows at the block that caused it
    setvbuf(file, nullptr, _IONBF, 0);

    if (!openConnection()) {
        fclose(file);
        return -1;
    }
    uint8_t *buffer = new uint8_t[transferBufferSize];
    setConnectionTimeouts();

    bool ok = runTransfer(mode, file, buffer, offset, length);

    if (fclose(file) != 0 && ok) {
        printf("File write failed: %s may be incomplete.\n", fileName);
        ok = false;
    }
    delete[] buffer;
    closeConnection();
    return ok ? 0 : -1;
}
