#include "inventory/listingparser.h"
