#include "runkit.h"

int wmain(int argc, wchar_t **argv)
{
    return runkit::runGroups(argc, argv);
}
