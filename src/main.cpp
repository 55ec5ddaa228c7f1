#include <new>

#include "UnTWX.h"
#include "platform/Platform.h"

int main(int argc, char** argv)
{
    int exitCode;
    try {
        platform::StartUp();
        exitCode = RunUnTWX(platform::Arguments(argc, argv));
    } catch (const std::bad_alloc&) {
        exitCode = OutOfMemoryStop();
    }
    platform::EndProcess(exitCode);
}
