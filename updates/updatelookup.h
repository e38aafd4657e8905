#pragma once

#include <QString>

class Inventory;

// Where the newer version of an installed extension can be downloaded: the <download> address
// of the feed that the first manifest of its package copy names. Otherwise one of the markers
// "URL_NO_URL" (no manifest names a feed), "URL_NETWORK_ERROR" (the feed request failed) or
// "URL_CRASH_ERROR" (a manifest or the feed could not be read); empty when the feed was too
// large to read or names no download. Waits for the feed in a local event loop.
QString updateAddressOf(Inventory &inventory, const QString &extensionName);
