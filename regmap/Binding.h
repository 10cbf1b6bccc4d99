// The two routines that join the register image and the window's controls.
//
// ImageToControls shows an image (the confirmed one) in every control; ControlsToImage reads the
// controls back into an image (the wanted one), writing only the bytes the controls stand for.
// Both run their sections in the order CTRL, DEV_0, DEV_1 .. DEV_9.
//
// Whatever the controls cannot show is never written back from them: a list without a selection,
// a contact type of 3, a parity the hidden buttons do not know, an indicator that is neither red
// nor green. So an image shown and read back without the operator touching anything comes back
// unchanged, and the station never writes a setting nobody chose.
#pragma once

#include "ControlsModel.h"
#include "RegisterImage.h"

namespace korvan {

void ImageToControls(const RegisterImage& image, WindowControls& controls);
void ControlsToImage(const WindowControls& controls, RegisterImage& image);

// One expansion module, k = 1..9: its unit block, then its start sources and blockings. Any other
// k does nothing.
void ModuleToControls(int k, const RegisterImage& image, WindowControls& controls);
void ControlsToModule(int k, const WindowControls& controls, RegisterImage& image);

// Start sources (register 96 + k) and blockings (register 106 + k) of unit k = 0..9. Any other k
// does nothing.
void MatrixToControls(int k, const RegisterImage& image, WindowControls& controls);
void ControlsToMatrix(int k, const WindowControls& controls, RegisterImage& image);

} // namespace korvan
