#pragma once

#include <QPixmap>

namespace sondrel::app {

enum class Face { Smiling, Straight, Sad };

// The 32 x 32 status pictures: a yellow face whose mouth tells the state.
QPixmap drawFace(Face face);

} // namespace sondrel::app
