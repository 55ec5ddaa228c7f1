#include <new>

#include "UnTWX.h"
#include "platform/Platform.h"

int main(int argc, char** argv)
{
    try {
        platform::StartUp();
        platform::EndProcess(RunUnTWX(platform::Arguments(argc, argv)));
    } catch (const std::bad_alloc&) {
        OutOfMemoryStop();
    }
}
