// Host lines of the listing folded into the names the host list shows.
#include "fuzzsupport.h"
#include "inventory/hostcatalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString hostLine = fuzzText(data, size);
    const QString name = hostDisplayName(hostLine);
    // Folding only cuts the line short, and a folded name folds into itself.
    require(hostLine.startsWith(name));
    require(hostDisplayName(name) == name);
    return 0;
}
