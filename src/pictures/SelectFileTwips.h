#pragma once
// The twips the picture chooser is designed in, as its two files turn them into pixels
// (SelectFile.cpp, the window and its lists; SelectFilePreview.cpp, the preview). For
// those files only.
#include <cmath>

constexpr int kTwipsPerPixel = 15;

// A twip position that may lie left of or above its container (the scroll bars start at
// -15): the shared helper rounds toward zero there.
inline int px(int twips) { return int(std::lround(double(twips) / kTwipsPerPixel)); }
