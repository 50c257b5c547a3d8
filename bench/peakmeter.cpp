// Runs a command, its output thrown away, and prints on standard output how long it ran, in
// milliseconds, and the most memory it held, in KiB, as the kernel counted them for it alone.
//
// bench_commandline runs every tool through this small program: a process started by another
// is charged, until it starts its own program, with its parent's pages, and the benchmark's own
// would hide the tools' peaks under its own. This one holds next to nothing. Plain C library
// only, for the same reason.

#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fputs("usage: peakmeter COMMAND [ARGUMENT...]\n", stderr);
        return 2;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    timespec start = {};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t child = 0;
    if (posix_spawnp(&child, argv[1], &actions, nullptr, argv + 1, environ) != 0)
        return 1;
    int status = 0;
    rusage usage = {};
    if (wait4(child, &status, 0, &usage) != child)
        return 1;
    timespec end = {};
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double ms = double(end.tv_sec - start.tv_sec) * 1e3 + double(end.tv_nsec - start.tv_nsec) / 1e6;
    std::printf("%.3f %ld\n", ms, usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
