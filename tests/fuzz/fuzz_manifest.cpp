// A package's installation manifest and the update address it names.
#include "fuzzsupport.h"
#include "updates/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    updateUrlOfManifest(fuzzBytes(data, size));
    return 0;
}
