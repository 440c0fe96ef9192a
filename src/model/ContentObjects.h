#pragma once
// The content kinds of a slide: pictures (ImageObject.h), texts rendered into pictures (TextObject.h),
// themed buttons (ButtonObject.h), and filled boxes and frames (BoxObject.h), and their registration with
// the object factory.

#include "BoxObject.h"
#include "ButtonObject.h"
#include "ImageObject.h"
#include "TextObject.h"

namespace kiv {

// Registers "image", "mainimage", "text", "textcomment", "button", "box" and "frame" with the object
// factory and the "Text: " and "Button: " picture producers. Calling it again changes nothing.
void RegisterContentKinds();

} // namespace kiv
