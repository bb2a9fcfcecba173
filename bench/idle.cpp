// idle.exe MS: the reference for the countdown's CPU time. It only waits, as
// long as it is told, and ends.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    Sleep(argc > 1 ? DWORD(std::atoi(argv[1])) : 27000);
    return 0;
}
