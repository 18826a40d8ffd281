// The self-pipe of the signal handlers.
#include "event/signals.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_wake[2] = {-1, -1};

} // namespace

void signal_wake_init()
{
    if (g_wake[0] < 0 && pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) g_wake[0] = g_wake[1] = -1;
}

int signal_wake_fd()
{
    return g_wake[0];
}

void signal_wake()
{
    int saved = errno;
    // A full pipe already wakes the wait: the byte is not needed.
    if (g_wake[1] >= 0) (void)!write(g_wake[1], "", 1);
    errno = saved;
}

void signal_wake_drain()
{
    char drain[64];
    while (g_wake[0] >= 0 && read(g_wake[0], drain, sizeof drain) > 0) {
    }
}
