// The appcast that announces new versions of the program itself.
#include "fuzzsupport.h"
#include "platform/appcastchecker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const AppcastChecker::Release newest = AppcastChecker::newestRelease(fuzzBytes(data, size));
    require(!newest.version.isEmpty() || newest.displayVersion.isEmpty());
    return 0;
}
