#pragma once

#include "benchconfig.h"

// The child process's side: builds the real window offscreen (or on the display it was given)
// against the scenario, measures, prints one result line and returns non-zero when a step
// failed. Called from main before any application object exists.
int runWindow(int argc, char *argv[], const QString &configPath);

// The line a window run prints its result on, followed by the result as JSON.
constexpr char ResultMarker[] = "BENCH-RESULT ";
