#pragma once
// Slide objects are draw items and draw through the renderer's drawer; the model uses no more of it than
// TDrawItem and TDeviceDrawer::IsReady / DrawItem.

#include "DrawTree.h"
