/* A library that must never be loaded: its constructor leaves a marker file
 * (at $TABROOK_EVIL_MARKER), so a test can tell whether a hostile
 * connection key made the driver manager load it. */
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

__attribute__((constructor)) static void leave_marker(void) {
    const char* marker = getenv("TABROOK_EVIL_MARKER");
    if (marker) {
        int fd = open(marker, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0)
            close(fd);
    }
}
