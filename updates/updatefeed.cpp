#include "updates/updatefeed.h"
