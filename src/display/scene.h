#pragma once

#include "display/canvas.h"

// Makes the canvas visible to RenderFrame (a release store); until then
// RenderFrame draws nothing.
void PublishCanvas(Canvas* canvas);

// Draws one whole frame from the current state, serialised with every other
// pass and with the timer thread's line write.
void RenderFrame();
