// The console, the one platform-specific piece of the front end.
#pragma once

// Makes standard output unbuffered when it is a console, so the overwrite
// question and each progress update show at once.
void initConsole();

// Reads one key from the console itself (not from redirected input), without
// echo and without Enter; Ctrl-C is read as a key. True only for 'y' or 'Y';
// a special key or no console to read counts as no. The question, already
// printed to standard output, is shown on the console as well when standard
// output goes elsewhere, so nobody waits for a key without knowing it.
bool readYesKey(const char *question);
