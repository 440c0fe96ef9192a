#pragma once
// The content kinds of a slide: pictures (ImageObject.h), texts rendered into pictures (TextObject.h),
// themed buttons (ButtonObject.h), filled boxes and frames (BoxObject.h), videos (VideoObject.h), masks and
// viewports (MaskObjects.h), and their registration with the object factory.

#include "BoxObject.h"
#include "ButtonObject.h"
#include "ImageObject.h"
#include "MaskObjects.h"
#include "TextObject.h"
#include "VideoObject.h"

namespace kiv {

// Registers "image", "mainimage", "text", "textcomment", "button", "box", "frame", "video", "mainvideo",
// "videomask", "mask" and "viewport" with the object factory and the "Text: ", "Button: " and "Mask: "
// picture producers. Calling it again changes nothing.
void RegisterContentKinds();

} // namespace kiv
