// The console on Linux and macOS.
#include "console.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

void initConsole()
{
    if (isatty(STDOUT_FILENO))
        setvbuf(stdout, nullptr, _IONBF, 0);
}

bool readYesKey(const char *question)
{
    // the terminal itself: standard input may be a file or a pipe
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY);
    if (fd < 0)
        return false;
    if (!isatty(STDOUT_FILENO)) {
        ssize_t shown = write(fd, question, strlen(question));
        (void)shown;  // unseen or not, the answer is read all the same
    }
    struct termios saved;
    if (tcgetattr(fd, &saved) != 0) {
        close(fd);
        return false;
    }
    struct termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | ISIG);  // Ctrl-C arrives as byte 3
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    // TCSAFLUSH: keys typed before the question can't answer it
    bool yes = false;
    if (tcsetattr(fd, TCSAFLUSH, &raw) == 0) {
        unsigned char key = 0;
        yes = read(fd, &key, 1) == 1 && (key == 'y' || key == 'Y');
        // the tail of a multi-byte key (an arrow sends three) must not reach
        // the shell: take what follows within a moment, then drop the rest
        struct pollfd more = {fd, POLLIN, 0};
        unsigned char tail[16];
        while (poll(&more, 1, 20) == 1 && read(fd, tail, sizeof tail) > 0) {
        }
        tcflush(fd, TCIFLUSH);
        tcsetattr(fd, TCSAFLUSH, &saved);
    }
    close(fd);
    return yes;
}
