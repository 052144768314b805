// The console, the one platform-specific piece of the front end.
#pragma once

// Makes standard output unbuffered when it is a console, so the overwrite
// question and each progress update show at once.
void initConsole();

// Reads one key from the console itself (not from redirected input), without
// echo and without Enter; Ctrl-C is read as a key. True only for 'y' or 'Y';
// a special key or no console to read counts as no.
bool readYesKey();
