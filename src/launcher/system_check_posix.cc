#include "launcher/system_check.h"

#include <cstdlib>
#include <fstream>

#include "launcher/launch.h"

namespace tvl {


namespace {

bool hasDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

}  // namespace

// There is no Windows version here: a system that loads this build is new
// enough. The Direct3D probe stands for "the game can draw": only a game
// that needs a display is refused without one, so a headless game (and a
// headless test run) is never stopped.
void checkSystem() {
  std::ifstream in(kGameExecutable, std::ios::binary);
  if (!in) return;  // no game: the launch reports that later
  std::string head(1 << 20, '\0');
  in.read(&head[0], static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  if (gameNeedsDisplay(head) && !hasDisplay()) refuseToRun(kNoDirectXText, kNoDirectXCaption);
}

}  // namespace tvl
