#include "ryKivPicture.h"
