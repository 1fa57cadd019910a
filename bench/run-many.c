// SPDX-License-Identifier: MIT
/*
 * run-many RUNS COMMAND [ARG...]: runs COMMAND RUNS times in the current
 * directory, each time after removing ./bigfile so that every run creates it,
 * with its output sent to /dev/null. Prints the median wall time in
 * microseconds and the largest peak resident memory in KiB.
 *
 * The peak is why this is C: a process's ru_maxrss also counts the memory it
 * had before exec, so the process that forks must itself be tiny (this one is
 * linked statically) for the figure to be the command's own.
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static int by_value(const void *a, const void *b)
{
    const long long x = *(const long long *)a, y = *(const long long *)b;
    return (x > y) - (x < y);
}

static long long now_ns(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

int main(int argc, char *argv[])
{
    const int runs = argc > 2 ? atoi(argv[1]) : 0;
    if (runs < 1) {
        fprintf(stderr, "usage: run-many RUNS COMMAND [ARG...]\n");
        return 2;
    }
    long long *walls = calloc((size_t)runs, sizeof *walls);
    if (walls == NULL) {
        perror("run-many");
        return 1;
    }
    long peak = 0;
    for (int i = 0; i < runs; i++) {
        unlink("bigfile");
        const long long start = now_ns();
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execvp(argv[2], argv + 2);
            _exit(127);
        }
        int status;
        struct rusage usage;
        if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            fprintf(stderr, "run-many: %s did not succeed\n", argv[2]);
            return 1;
        }
        walls[i] = now_ns() - start;
        peak = usage.ru_maxrss > peak ? usage.ru_maxrss : peak;
    }
    qsort(walls, (size_t)runs, sizeof *walls, by_value);
    const long long median =
        runs % 2 ? walls[runs / 2] : (walls[runs / 2 - 1] + walls[runs / 2]) / 2;
    printf("%.1f %ld\n", (double)median / 1000.0, peak);
    free(walls);
    return 0;
}
