// Full-screen pictures: "%s.png" (relative to the working directory) decoded into the
// background image, and the few screens the start-up sequence shows with them.
#pragma once

namespace corvid {

struct Works;

// Loads the picture named by works.core.splashName into the background image: an 8-bit
// RGBA PNG no larger than the screen, top-left at the screen's top-left, alpha ignored;
// the screen outside the picture keeps its old content. Every refusal is logged and
// leaves the background as it was. 0 when loaded, -1 otherwise.
int getPng(Works& works);

// getPng, fbSetBack and fbRealize: the named picture fills the panel.
void showBackground(Works& works);

// The start-up countdown over the splash picture: the background, the text in font 9,
// white, at (300, 400), and the frame shown. Set as works.core.hooks.showLoading.
void showLoading(Works& works, const char* text);

// The last screen before the program closes: the splash picture again with
// "Error! Close Program! Restart hw." in font 9, white, at (330, 400).
void showClosing(Works& works);

}  // namespace corvid
