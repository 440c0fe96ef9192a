#pragma once
// The player's transitions on a slide drawer: the factory that makes the filter of a transition record
// (custom transitions included), given the frame area and the update rectangle of the frame it first
// draws in.

#include "ScreenDrawer.h"

namespace kiv {

// Installs the factory; the drawer then draws transitions through their filters instead of as cuts.
void InstallTransitions(T3DDrawer& drawer);

} // namespace kiv
