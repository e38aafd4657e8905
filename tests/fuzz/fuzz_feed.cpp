// An extension's update feed: the version and download address it announces.
#include "fuzzsupport.h"
#include "updates/updatefeed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    parseUpdateFeed(fuzzText(data, size));
    return 0;
}
