// The console on Windows.
#include "console.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_INPUT
#define ENABLE_VIRTUAL_TERMINAL_INPUT 0x0200  // older SDKs
#endif

void initConsole()
{
    // the texts' bytes exactly, "\n" as is: no CR added when output goes to
    // a file or a pipe (the console shows a lone "\n" as a new line anyway)
    _setmode(_fileno(stdout), _O_BINARY);
    // GetConsoleMode, not _isatty: _isatty is also true for NUL
    DWORD mode;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode))
        setvbuf(stdout, nullptr, _IONBF, 0);
}

// Shift, Ctrl and the like come as keys of their own before the key they
// modify; they are not the answer.
static bool isModifier(WORD key)
{
    switch (key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
        return true;
    default:
        return false;
    }
}

// The character of the next key pressed; 0 for a key without one (arrows,
// function keys), whose whole input record is taken, or when reading fails.
static wchar_t readKey(HANDLE input)
{
    for (;;) {
        INPUT_RECORD record;
        DWORD count = 0;
        if (!ReadConsoleInputW(input, &record, 1, &count) || count == 0)
            return 0;
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown)
            continue;  // key releases, mouse, focus and resize events
        if (isModifier(record.Event.KeyEvent.wVirtualKeyCode))
            continue;
        return record.Event.KeyEvent.uChar.UnicodeChar;
    }
}

static HANDLE questionInput = INVALID_HANDLE_VALUE;

// Some consoles still raise Ctrl-C as a signal with processed input off
// (wine's on a terminal): during the question it is handed to the waiting
// read as the key it is, which refuses.
static BOOL WINAPI ctrlCAsKey(DWORD event)
{
    if (event != CTRL_C_EVENT)
        return FALSE;  // Ctrl-Break still ends the process
    INPUT_RECORD record = {};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = TRUE;
    record.Event.KeyEvent.wRepeatCount = 1;
    record.Event.KeyEvent.wVirtualKeyCode = 'C';
    record.Event.KeyEvent.uChar.UnicodeChar = 3;
    record.Event.KeyEvent.dwControlKeyState = LEFT_CTRL_PRESSED;
    DWORD written;
    WriteConsoleInputW(questionInput, &record, 1, &written);
    return TRUE;
}

// The question on the console window when standard output goes elsewhere
// (a file, a pipe), so that the wait for a key doesn't look like a hang.
static void showOnConsole(const char *question)
{
    DWORD mode;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode))
        return;  // already shown there
    HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    if (output == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteConsoleA(output, question, static_cast<DWORD>(strlen(question)), &written, nullptr);
    CloseHandle(output);
}

bool readYesKey(const char *question)
{
    // the console itself: standard input may be a file or a pipe
    HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    if (input == INVALID_HANDLE_VALUE)
        return false;  // no console: nobody to ask
    bool yes = false;
    DWORD saved;
    if (GetConsoleMode(input, &saved)) {
        showOnConsole(question);
        // one key, no echo, and Ctrl-C read as a key (character 3) instead
        // of ending the process; an arrow key as one record, not as an
        // escape sequence left behind for the shell
        DWORD raw = saved & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT |
                                                ENABLE_ECHO_INPUT | ENABLE_VIRTUAL_TERMINAL_INPUT);
        if (SetConsoleMode(input, raw)) {
            // keys typed before the question can't answer it
            FlushConsoleInputBuffer(input);
            questionInput = input;
            SetConsoleCtrlHandler(ctrlCAsKey, TRUE);
            wchar_t key = readKey(input);
            SetConsoleCtrlHandler(ctrlCAsKey, FALSE);
            yes = key == L'y' || key == L'Y';
            // the rest of the key (its release, a pasted tail) is not for the shell
            FlushConsoleInputBuffer(input);
            SetConsoleMode(input, saved);
        }
    }
    CloseHandle(input);
    return yes;
}
