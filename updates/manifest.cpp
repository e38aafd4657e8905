#include "updates/manifest.h"
