#include "DrawerTransitions.h"

#include "FilterFactory.h"
#include "RealSlideFilter.h"

namespace kiv {

void InstallTransitions(T3DDrawer& drawer) {
  // The factory belongs to the drawer, so the drawer outlives every call of it.
  drawer.SetTransitionFactory([&drawer](const TRect& frameArea, const TTransitionParams& params,
                                        TDrawItem& first) -> TOwned<TTransitionFilter> {
    TOwned<TDrawFilter> filter =
        CreateFilter(frameArea, params.effectClass, params.effectKind, &first, params.effectParams,
                     static_cast<float>(params.duration), CreateCustomTransition);
    if (filter) filter->updateRect = drawer.GetUpdateRect();
    return filter;
  });
}

} // namespace kiv
