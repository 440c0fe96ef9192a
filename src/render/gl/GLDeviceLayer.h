#pragma once
// The device layer on OpenGL 3.3 core, in place of the Direct3D 9 family: engine, renderer, surfaces,
// textures, vertex lists and shaders. Contexts and monitors come from the platform's backend table
// (headless EGL for draw devices without a window, SDL2 for windows). Every GL call runs under DeviceLock
// with the store's context bound on the calling thread.

#include "GLEngine.h"
#include "GLRenderer.h"
#include "GLResources.h"
