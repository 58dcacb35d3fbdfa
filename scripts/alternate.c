/* Times two commands run in turns, each as a new process with its standard
 * output on /dev/null, and prints the median wall time of each in
 * microseconds: "A B". Used by the benchmark scripts where a run takes a
 * few milliseconds, so that a shell's own fork and exec are not in the
 * figures.
 *
 *   alternate RUNS COMMAND_A ARGS... -- COMMAND_B ARGS...
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static int compare(const void *a, const void *b) {
    long x = *(const long *)a, y = *(const long *)b;
    return (x > y) - (x < y);
}

/* Microseconds the command took; exits when it could not run or failed. */
static long run(char **argv, int devnull) {
    struct timespec start, end;
    int status;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(devnull, STDOUT_FILENO);
        execv(argv[0], argv);
        _exit(127);
    }
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "alternate: %s failed\n", argv[0]);
        exit(1);
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    return (end.tv_sec - start.tv_sec) * 1000000L + (end.tv_nsec - start.tv_nsec) / 1000;
}

int main(int argc, char **argv) {
    char **a = argv + 2, **b = NULL;
    int runs = argc > 1 ? atoi(argv[1]) : 0;
    for (int i = 2; i < argc; i++) {
        if (strcmp(argv[i], "--") == 0) {
            argv[i] = NULL;
            b = argv + i + 1;
            break;
        }
    }
    if (runs <= 0 || b == NULL || a[0] == NULL || b[0] == NULL) {
        fprintf(stderr, "usage: alternate RUNS COMMAND_A ARGS... -- COMMAND_B ARGS...\n");
        return 2;
    }
    long *times_a = malloc(sizeof(long) * runs), *times_b = malloc(sizeof(long) * runs);
    int devnull = open("/dev/null", O_WRONLY);
    if (times_a == NULL || times_b == NULL || devnull < 0) return 1;
    for (int i = 0; i < runs; i++) {
        times_a[i] = run(a, devnull);
        times_b[i] = run(b, devnull);
    }
    qsort(times_a, runs, sizeof(long), compare);
    qsort(times_b, runs, sizeof(long), compare);
    printf("%ld %ld\n", times_a[runs / 2], times_b[runs / 2]);
    return 0;
}
