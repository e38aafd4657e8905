#pragma once

// The four calls the program makes into the self-update component. On Windows they are the
// self-update library's own when the build finds it; otherwise AppcastChecker answers them.
#if defined(PANELHOLD_HAVE_WINSPARKLE)
#include <winsparkle.h>
#else
#include "platform/appcastchecker.h"

extern "C" {
void win_sparkle_set_appcast_url(const char *url);
void win_sparkle_init();
void win_sparkle_check_update_without_ui();
void win_sparkle_check_update_with_ui();
void win_sparkle_cleanup();
}

// The checker behind the calls above, created on first use.
AppcastChecker *selfUpdateChecker();
#endif
