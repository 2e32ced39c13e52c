// mapwatch MAPS PROGRAM [ARGS...]
//
// Starts PROGRAM on $DISPLAY and reports each of its first MAPS top-level
// windows as the X server maps them, without polling:
//   pid PID
//   map WINDOW MILLISECONDS RSS_KB CPU_MS
// MILLISECONDS counts from just before the fork; RSS_KB is the program's
// VmRSS read as the map is reported, CPU_MS the on-CPU time of all its
// threads so far. PROGRAM's own standard output goes to standard error.
// Then it waits for PROGRAM to end and exits with its status (128 + signal
// when killed).

#include <X11/Xlib.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static int child_pipe[2];

static void on_child(int signal_number)
{
    (void)signal_number;
    const int saved = errno;
    const char byte = 0;
    (void)!write(child_pipe[1], &byte, 1);
    errno = saved;
}

static double now_ms()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

static long rss_kb(pid_t pid)
{
    char path[64], line[256];
    snprintf(path, sizeof path, "/proc/%d/status", int(pid));
    FILE *status = fopen(path, "r");
    long kb = -1;
    if (!status)
        return kb;
    while (fgets(line, sizeof line, status)) {
        if (strncmp(line, "VmRSS:", 6) == 0) {
            kb = strtol(line + 6, nullptr, 10);
            break;
        }
    }
    fclose(status);
    return kb;
}

// On-CPU time of all the program's threads so far, from the scheduler.
static double cpu_ms(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/task", int(pid));
    DIR *tasks = opendir(path);
    if (!tasks)
        return -1;
    unsigned long long ns = 0;
    struct dirent *task;
    while ((task = readdir(tasks))) {
        if (task->d_name[0] == '.')
            continue;
        char stat_path[320];
        snprintf(stat_path, sizeof stat_path, "/proc/%d/task/%s/schedstat", int(pid), task->d_name);
        FILE *schedstat = fopen(stat_path, "r");
        unsigned long long on_cpu = 0;
        if (schedstat) {
            if (fscanf(schedstat, "%llu", &on_cpu) == 1)
                ns += on_cpu;
            fclose(schedstat);
        }
    }
    closedir(tasks);
    return ns / 1e6;
}

static int exit_status(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int main(int argc, char *argv[])
{
    if (argc < 3 || atoi(argv[1]) < 1) {
        fprintf(stderr, "usage: %s MAPS PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const int maps = atoi(argv[1]);

    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        fprintf(stderr, "mapwatch: cannot open display\n");
        return 2;
    }
    // Selected before the program starts, so no map can be missed.
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);
    fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);

    if (pipe2(child_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        perror("mapwatch: pipe");
        return 2;
    }
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_child;
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &action, nullptr);

    const double start = now_ms();
    const pid_t pid = fork();
    if (pid < 0) {
        perror("mapwatch: fork");
        return 2;
    }
    if (pid == 0) {
        // Our standard output is for reports only.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execvp(argv[2], argv + 2);
        perror("mapwatch: exec");
        _exit(127);
    }
    printf("pid %d\n", int(pid));
    fflush(stdout);

    int seen = 0;
    struct pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {child_pipe[0], POLLIN, 0}};
    while (seen < maps) {
        while (seen < maps && XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != MapNotify || event.xmap.event != root || event.xmap.override_redirect)
                continue;
            const double at = now_ms() - start;
            const long kb = rss_kb(pid);
            printf("map %lu %.2f %ld %.2f\n", static_cast<unsigned long>(event.xmap.window), at, kb, cpu_ms(pid));
            fflush(stdout);
            ++seen;
        }
        if (seen == maps)
            break;
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            perror("mapwatch: poll");
            break;
        }
        int status;
        if (fds[1].revents && waitpid(pid, &status, WNOHANG) == pid) {
            fprintf(stderr, "mapwatch: the program ended after %d of %d maps\n", seen, maps);
            return exit_status(status);
        }
    }
    XCloseDisplay(display);

    int status;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return 2;
    }
    return exit_status(status);
}
