#include "KivRenderFrame.h"
