// A tool that never finishes, whatever it is asked: for the time bound of the
// port probe. With HANG_TOOL_HOLD naming a file, it also outlives SIGKILL
// while someone else holds a lock on that file: a child of its own traces it,
// and the kernel hands a traced process that died to its parent only once the
// tracer lets go.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ptrace.h>
#include <unistd.h>

#include <cstdlib>

int main()
{
    if (const char *hold = std::getenv("HANG_TOOL_HOLD")) {
        int ready[2];
        const pid_t tool = getpid();
        if (pipe(ready) != 0)
            return 1;
        if (fork() == 0) {
            const char held = ptrace(PTRACE_SEIZE, tool, nullptr, nullptr) == 0 ? 'y' : 'n';
            if (write(ready[1], &held, 1) == 1)
                flock(open(hold, O_RDONLY | O_CLOEXEC), LOCK_SH);
            _exit(0);
        }
        char held = 'n';
        if (read(ready[0], &held, 1) != 1 || held != 'y')
            return 1;
    }
    for (;;)
        pause();
}
