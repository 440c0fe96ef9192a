#include "ryKivSlideUtils3.h"
