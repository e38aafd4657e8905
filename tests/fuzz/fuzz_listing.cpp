// The tool's "list all" output, read into hosts and their extensions.
#include "fuzzsupport.h"
#include "inventory/hostcatalogue.h"
#include "inventory/listingparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const ParsedListing listing = parseListing(fuzzText(data, size));
    require(listing.pieceCount >= 1);
    require(listing.hosts.size() == qMax(0, listing.pieceCount - 2));
    HostExtensionMap hostExtensions;
    QMap<QString, QString> versions;
    for (const ListedHost &host : listing.hosts) {
        // Every section starts at a header with a host name on its own line.
        require(!host.hostLine.isEmpty() && !host.hostLine.contains(QLatin1Char('\n')));
        require(host.displayName == hostDisplayName(host.hostLine));
        mergeListedHost(host, hostExtensions, versions);
    }
    return 0;
}
