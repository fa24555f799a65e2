// The program's identity, shown in the banner, the HudBlock and the record.
#pragma once

inline constexpr int kVersionMajor = 0;
inline constexpr int kVersionMinor = 14;
inline constexpr int kVersionPatch = 11;
inline constexpr char kProductName[] = "Pelquarinthos Wired";  // 19 chars + NUL
static_assert(sizeof(kProductName) == 20);
