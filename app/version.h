#pragma once

// The program's version and where newer versions are announced. Windows builds also carry
// both in the executable's resources (resources/panelhold.rc).
namespace Program {
constexpr char Version[] = "4.1";
constexpr char UpdateFeedUrl[] =
    "http://www.velmora.example/checkupdates.sp.xml?product=Panelhold&platform=win";
} // namespace Program
