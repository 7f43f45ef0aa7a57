#pragma once
// Window places are the outer frame's (title bar and borders included), as a desktop with
// frames shows them: a window placed at 10,10 has its title bar there, not its inside.

#include <QMargins>
#include <QRect>
#include <functional>

class QWidget;

namespace ozm {

// Places `window`'s frame at `outerFor(margins)`, the inside taking what the frame leaves: at
// once with the frame margins known now (none before the window is shown), and once more
// when the window manager's frame becomes known after showing. A window without a frame
// (no window manager) keeps the first place.
void PlaceWindowFrame(QWidget& window, std::function<QRect(const QMargins&)> outerFor);

}  // namespace ozm
