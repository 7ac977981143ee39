#pragma once

#include <QImage>

struct DisplayFrame;

// A frame the video manager prepared for painting, as an 8-bit indexed image
// that looks at the frame buffer itself (the pixels are not copied), with the
// colour table in front of them turned into colours. Null when there is no
// frame.
QImage DisplayImage(const DisplayFrame& frame);

// `indexed` in colours, in `shown` (made RGB32 at the size of `indexed` when
// it is not already): the picture as the windows paint it. Painting an
// indexed image converts it on every paint, spread over the toolkit's
// threads; converted here once a frame, in one pass through a table of its
// 256 colours, a paint is a plain copy.
void ConvertForShowing(const QImage& indexed, QImage& shown);
