/* Start-up figures: from exec to a top-level window mapped and painted, and the process's peak
 * resident memory, for a program given on the command line. Needs an X server without a window
 * manager (DISPLAY); reports one line of figures per run.
 *
 *   bench_start RUNS TITLE_PREFIX PROGRAM [ARGS...]
 */
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static long peak_rss_kib(pid_t pid)
{
    char path[64], line[256];
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE *f = fopen(path, "r");
    long kib = -1;
    if (!f)
        return -1;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "VmHWM: %ld kB", &kib) == 1)
            break;
    fclose(f);
    return kib;
}

static int title_matches(Display *display, Window window, const char *prefix)
{
    /* _NET_WM_NAME holds the title in UTF-8; WM_NAME may be compound text. */
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom net_name = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *value = NULL;
    int match = 0;
    if (XGetWindowProperty(display, window, net_name, 0, 256, False, utf8, &type, &format, &count,
                           &after, &value) == Success &&
        value) {
        match = strncmp((const char *)value, prefix, strlen(prefix)) == 0;
        XFree(value);
        return match;
    }
    XTextProperty property;
    if (XGetWMName(display, window, &property) && property.value) {
        match = strncmp((const char *)property.value, prefix, strlen(prefix)) == 0;
        XFree(property.value);
    }
    return match;
}

/* Painted: some sampled pixel is no longer the black of a fresh window. */
static int painted(Display *display, Window window)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
        return 0;
    XImage *image = XGetImage(display, window, 0, 0, (unsigned)attributes.width,
                              (unsigned)attributes.height, AllPlanes, ZPixmap);
    if (!image)
        return 0;
    int found = 0;
    for (int y = 2; y < attributes.height && !found; y += 7)
        for (int x = 2; x < attributes.width && !found; x += 7)
            found = (XGetPixel(image, x, y) & 0xffffff) != 0;
    XDestroyImage(image);
    return found;
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: %s RUNS TITLE_PREFIX PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const int runs = atoi(argv[1]);
    const char *prefix = argv[2];
    Display *display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "no X display\n");
        return 1;
    }
    Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);

    for (int run = 0; run < runs; ++run) {
        XSync(display, True);
        const double start = now_ms();
        pid_t pid = fork();
        if (pid == 0) {
            execv(argv[3], argv + 3);
            _exit(127);
        }
        Window found = 0;
        double mapped = -1, shown = -1;
        while (shown < 0 && now_ms() - start < 20000) {
            while (XPending(display)) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == MapNotify && !found &&
                    title_matches(display, event.xmap.window, prefix)) {
                    found = event.xmap.window;
                    mapped = now_ms() - start;
                }
            }
            if (found && painted(display, found))
                shown = now_ms() - start;
            else
                usleep(200);
        }
        usleep(300 * 1000); /* let it settle before reading its peak memory */
        const long rss = peak_rss_kib(pid);
        kill(pid, SIGKILL);
        waitpid(pid, NULL, 0);
        printf("run %d: mapped %.1f ms, painted %.1f ms, peak RSS %ld KiB\n", run + 1, mapped,
               shown, rss);
        fflush(stdout);
    }
    XCloseDisplay(display);
    return 0;
}
