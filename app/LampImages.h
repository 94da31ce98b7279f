#pragma once

#include <QList>
#include <QPixmap>

// The 24 images of the window's image list, 16x16 with alpha, drawn in code: circular lamps
// (0..11), then square ones (12..23); per shape red, green, yellow, blue, each lit, dark, grey.
QList<QPixmap> MakeLampImages();
