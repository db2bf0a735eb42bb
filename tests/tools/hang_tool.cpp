// A tool that never finishes, whatever it is asked: for the time bound of the
// port probe.
#include <unistd.h>

int main()
{
    for (;;)
        pause();
}
