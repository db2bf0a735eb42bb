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
        if (pipe(ready) == 0 && fork() == 0) { // the tracer, of its parent: the tool
            if (ptrace(PTRACE_SEIZE, getppid(), nullptr, nullptr) == 0 && write(ready[1], "", 1) == 1)
                flock(open(hold, O_RDONLY | O_CLOEXEC), LOCK_SH);
            _exit(0);
        }
        // Started once traced; hangs in here, never traced, when the tracer
        // could not attach (the tests then see it die at its kill).
        if (char byte; read(ready[0], &byte, 1) != 1)
            return 1;
    }
    for (;;)
        pause();
}
