#include "pictures/worker/confinement.h"

#include <QtGlobal>

#if defined(Q_OS_LINUX)
#include <QLibrary>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/landlock.h>
#include <memory>
#include <optional>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

// Rights of kernels newer than the headers of the oldest system this builds on.
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15)
#endif
#endif

namespace pictures::worker {

#if defined(Q_OS_LINUX)

namespace {

// Present when the process runs under a sanitizer, whichever of its libraries was built so.
extern "C" [[gnu::weak]] void __sanitizer_print_stack_trace();

// Every right that changes the file system, as far as this kernel's Landlock knows them; none is
// granted anywhere, so the worker may read any file and change none.
bool makeFileSystemReadOnly()
{
    const long abi =
        syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1)
        return false; // a kernel without Landlock, or with it switched off
    landlock_ruleset_attr rules{};
    rules.handled_access_fs = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR |
                              LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR |
                              LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
                              LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO |
                              LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
    if (abi >= 2)
        rules.handled_access_fs |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3)
        rules.handled_access_fs |= LANDLOCK_ACCESS_FS_TRUNCATE;
    if (abi >= 5)
        rules.handled_access_fs |= LANDLOCK_ACCESS_FS_IOCTL_DEV;
    const int ruleset = int(syscall(SYS_landlock_create_ruleset, &rules, sizeof rules, 0));
    if (ruleset < 0)
        return false;
    const bool restricted = syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    close(ruleset);
    return restricted;
}

// The calls the worker makes once it has started, found by running it under strace over
// pictures of every kind it reads (scripts/worker_calls.py --strace --only-worker): reading the
// request and the file, memory, the threads Qt's image code starts, clocks and signals, the
// fonts a metafile's text needs (their files, folders and caches), the plug-ins of Qt's image
// readers loaded on first use, and the processor time each picture may take (a limit and a
// timer).
constexpr auto kAllowed = std::to_array<int>(
    {// Files, read only: opening is checked below.
     SCMP_SYS(read), SCMP_SYS(pread64), SCMP_SYS(readv), SCMP_SYS(lseek), SCMP_SYS(close),
     SCMP_SYS(fstat), SCMP_SYS(newfstatat), SCMP_SYS(statx), SCMP_SYS(stat), SCMP_SYS(lstat),
     SCMP_SYS(fstatfs), SCMP_SYS(statfs), SCMP_SYS(access), SCMP_SYS(faccessat),
     SCMP_SYS(faccessat2), SCMP_SYS(readlink), SCMP_SYS(readlinkat), SCMP_SYS(getdents64),
     SCMP_SYS(getcwd), SCMP_SYS(fadvise64), SCMP_SYS(fcntl), SCMP_SYS(dup), SCMP_SYS(dup2),
     SCMP_SYS(dup3), SCMP_SYS(poll), SCMP_SYS(ppoll), SCMP_SYS(eventfd2), SCMP_SYS(pipe2),
     // Memory.
     SCMP_SYS(mmap), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(mprotect), SCMP_SYS(brk),
     SCMP_SYS(madvise),
     // Threads and their locks.
     SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(set_tid_address),
     SCMP_SYS(sched_yield), SCMP_SYS(sched_getaffinity), SCMP_SYS(gettid), SCMP_SYS(getpid),
     SCMP_SYS(exit), SCMP_SYS(exit_group),
     // Time, signals, what the system is.
     SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres), SCMP_SYS(clock_nanosleep),
     SCMP_SYS(nanosleep), SCMP_SYS(gettimeofday), SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigprocmask),
     SCMP_SYS(rt_sigreturn), SCMP_SYS(sigaltstack), SCMP_SYS(restart_syscall), SCMP_SYS(sysinfo),
     SCMP_SYS(uname), SCMP_SYS(getrandom), SCMP_SYS(getuid), SCMP_SYS(geteuid), SCMP_SYS(getgid),
     SCMP_SYS(getegid), SCMP_SYS(getrusage), SCMP_SYS(getrlimit),
     // The processor-time clock of a picture's give-up.
     SCMP_SYS(setitimer), SCMP_SYS(getitimer)});

// Calls ordinary code may make and copes with being refused, as any program without the right
// is refused them: creating, changing or removing files, connecting anywhere, starting programs.
// Refused, they fail; the picture is likely still shown.
constexpr auto kRefused = std::to_array<int>({
    SCMP_SYS(mkdir),         SCMP_SYS(mkdirat),    SCMP_SYS(unlink),    SCMP_SYS(unlinkat),
    SCMP_SYS(rename),        SCMP_SYS(renameat),   SCMP_SYS(renameat2), SCMP_SYS(link),
    SCMP_SYS(linkat),        SCMP_SYS(symlink),    SCMP_SYS(symlinkat), SCMP_SYS(chmod),
    SCMP_SYS(fchmod),        SCMP_SYS(fchmodat),   SCMP_SYS(chown),     SCMP_SYS(fchown),
    SCMP_SYS(fchownat),      SCMP_SYS(lchown),     SCMP_SYS(utimensat), SCMP_SYS(truncate),
    SCMP_SYS(ftruncate),     SCMP_SYS(fallocate),  SCMP_SYS(fsync),     SCMP_SYS(fdatasync),
    SCMP_SYS(socket),        SCMP_SYS(socketpair), SCMP_SYS(connect),   SCMP_SYS(execve),
    SCMP_SYS(execveat),      SCMP_SYS(fork),       SCMP_SYS(vfork),     SCMP_SYS(memfd_create),
    SCMP_SYS(inotify_init1), SCMP_SYS(ptrace),
});

// A condition on a call's argument (libseccomp's SCMP_A0... are C compound literals).
constexpr scmp_arg_cmp argument(unsigned int index, scmp_compare compare, scmp_datum_t value,
                                scmp_datum_t second = 0)
{
    return {index, compare, value, second};
}

// libseccomp, loaded by the worker alone: the program does not pay for it at every start.
struct Seccomp
{
    decltype(&seccomp_init) init = nullptr;
    decltype(&seccomp_rule_add_array) addRule = nullptr;
    decltype(&seccomp_load) load = nullptr;
    decltype(&seccomp_release) release = nullptr;
};

std::optional<Seccomp> loadSeccomp()
{
    constexpr int kVersion = 2;
    QLibrary library(QStringLiteral("seccomp"), kVersion);
    if (!library.load())
        return std::nullopt;
    const auto resolve = [&]<typename Function>(Function &function, const char *name) {
        function = reinterpret_cast<Function>(library.resolve(name));
        return function != nullptr;
    };
    Seccomp seccomp;
    if (!resolve(seccomp.init, "seccomp_init") ||
        !resolve(seccomp.addRule, "seccomp_rule_add_array") ||
        !resolve(seccomp.load, "seccomp_load") || !resolve(seccomp.release, "seccomp_release"))
        return std::nullopt;
    return seccomp; // the library stays loaded: QLibrary does not unload it on destruction
}

bool installFilter()
{
    const std::optional<Seccomp> seccomp = loadSeccomp();
    if (!seccomp)
        return false;
    // A call nobody expected is the decoder gone astray (a hostile file's code, most likely):
    // the worker ends, and the program answers that picture "cannot load".
    scmp_filter_ctx filter = seccomp->init(SCMP_ACT_KILL_PROCESS);
    if (!filter)
        return false;
    const std::unique_ptr<void, decltype(seccomp->release)> owner(filter, seccomp->release);
    bool ok = true;
    // Calls this architecture does not have (SCMP_SYS gives them negative numbers) need no rule.
    const auto rule = [&](uint32_t action, int call, auto... conditions) {
        const std::array<scmp_arg_cmp, sizeof...(conditions)> all{conditions...};
        ok = ok && (call < 0 ||
                    seccomp->addRule(filter, action, call, unsigned(all.size()), all.data()) == 0);
    };
    for (const int call : kAllowed)
        rule(SCMP_ACT_ALLOW, call);
    for (const int call : kRefused)
        rule(SCMP_ACT_ERRNO(EACCES), call);
    // Files open for reading only; anything else is refused as a read-only file system would.
    const scmp_datum_t writing = O_ACCMODE | O_CREAT | O_TRUNC;
    rule(SCMP_ACT_ALLOW, SCMP_SYS(openat), argument(2, SCMP_CMP_MASKED_EQ, writing, 0));
    rule(SCMP_ACT_ERRNO(EACCES), SCMP_SYS(openat), argument(2, SCMP_CMP_MASKED_EQ, writing, 1));
    rule(SCMP_ACT_ERRNO(EACCES), SCMP_SYS(openat), argument(2, SCMP_CMP_MASKED_EQ, writing, 2));
    rule(SCMP_ACT_ERRNO(EACCES), SCMP_SYS(openat),
         argument(2, SCMP_CMP_MASKED_EQ, O_CREAT, O_CREAT));
    rule(SCMP_ACT_ERRNO(EACCES), SCMP_SYS(openat),
         argument(2, SCMP_CMP_MASKED_EQ, O_TRUNC, O_TRUNC));
    rule(SCMP_ACT_ALLOW, SCMP_SYS(open), argument(1, SCMP_CMP_MASKED_EQ, writing, 0));
    // Writes only to the answers and the error channel; to any other descriptor (a wake-up of
    // a thread's event loop) they fail, which costs nothing.
    for (const int call : {SCMP_SYS(write), SCMP_SYS(writev)}) {
        // Sanitizers try memory by writing it into a pipe of their own.
        if (__sanitizer_print_stack_trace) {
            rule(SCMP_ACT_ALLOW, call);
            continue;
        }
        rule(SCMP_ACT_ALLOW, call, argument(0, SCMP_CMP_EQ, STDOUT_FILENO));
        rule(SCMP_ACT_ALLOW, call, argument(0, SCMP_CMP_EQ, STDERR_FILENO));
        rule(SCMP_ACT_ERRNO(EBADF), call, argument(0, SCMP_CMP_EQ, STDIN_FILENO));
        rule(SCMP_ACT_ERRNO(EBADF), call, argument(0, SCMP_CMP_GT, STDERR_FILENO));
    }
    // Threads, not processes: clone3's flags lie beyond the filter's sight, so the C library
    // is told there is none and falls back to clone.
    rule(SCMP_ACT_ALLOW, SCMP_SYS(clone),
         argument(0, SCMP_CMP_MASKED_EQ, scmp_datum_t(CLONE_THREAD), scmp_datum_t(CLONE_THREAD)));
    rule(SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone),
         argument(0, SCMP_CMP_MASKED_EQ, scmp_datum_t(CLONE_THREAD), 0));
    rule(SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3));
    // Naming its threads (Qt does), the processor-time limit of its own pictures, a signal to
    // itself (an abort), and whether a descriptor is a terminal; nothing else of the kind.
    rule(SCMP_ACT_ALLOW, SCMP_SYS(prctl), argument(0, SCMP_CMP_EQ, PR_SET_NAME));
    rule(SCMP_ACT_ALLOW, SCMP_SYS(prctl), argument(0, SCMP_CMP_EQ, PR_GET_NAME));
    rule(SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), argument(0, SCMP_CMP_EQ, 0));
    rule(SCMP_ACT_ALLOW, SCMP_SYS(setrlimit));
    rule(SCMP_ACT_ALLOW, SCMP_SYS(tgkill), argument(0, SCMP_CMP_EQ, scmp_datum_t(getpid())));
    rule(SCMP_ACT_ALLOW, SCMP_SYS(ioctl), argument(1, SCMP_CMP_EQ, TCGETS));
    rule(SCMP_ACT_ALLOW, SCMP_SYS(ioctl), argument(1, SCMP_CMP_EQ, FIONREAD));
    return ok && seccomp->load(filter) == 0;
}

} // namespace

void dropInheritedFiles()
{
    constexpr unsigned kFirstInherited = 3;
    if (syscall(SYS_close_range, kFirstInherited, ~0U, 0) == 0)
        return;
    rlimit files{};
    const int last = getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
                         ? int(std::min<rlim_t>(files.rlim_cur, 65536))
                         : 1024;
    for (int fd = kFirstInherited; fd < last; ++fd)
        close(fd);
}

bool confine()
{
    // Landlock and the filter both need it; it also keeps any set-user-id program from running.
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    makeFileSystemReadOnly();
    return installFilter();
}

#else

void dropInheritedFiles() {}

bool confine()
{
    return false;
}

#endif

} // namespace pictures::worker
