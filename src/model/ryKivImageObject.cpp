#include "ryKivImageObject.h"
