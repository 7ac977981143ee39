#pragma once

#include <QImage>

struct DisplayFrame;

// A frame the video manager prepared for painting, as an 8-bit indexed image
// that looks at the frame buffer itself (the pixels are not copied), with the
// colour table in front of them turned into colours. Null when there is no
// frame.
QImage DisplayImage(const DisplayFrame& frame);
