#pragma once

#include "display/canvas.h"

// Background colours selected by BgColor 1..7: black, red, green, blue,
// white, purple, grey.
extern const Colour ColourTable[7];

// Makes the canvas visible to RenderFrame (a release store, between passes);
// until then RenderFrame draws nothing.
void PublishCanvas(Canvas* canvas);

// The canvas RenderFrame draws into, or null before one is published.
Canvas* PublishedCanvas();

// Draws one whole frame from the current state, serialised with every other
// pass and with the timer thread's line write.
void RenderFrame();
