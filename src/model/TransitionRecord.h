#pragma once
// The transition record a slide carries into the drawer: the transition's class and type, its time in
// milliseconds, the options it reads and, once the drawer has made it, the filter that plays it.

#include "DrawTree.h"

namespace kiv {

class TKivFilter : public TTransitionParams {};

} // namespace kiv
