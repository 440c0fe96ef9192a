#pragma once
// From an effect class and kind to a transition filter, and the names the classes go by.

#include "DrawFilter.h"

#include <functional>
#include <string>

namespace kiv {

inline constexpr int32_t kCustomTransitionClass = 18;

// Makes the filter of a custom transition (class 18) from its description; none leaves the cross-fade.
using TCustomFilterHook =
    std::function<TOwned<TDrawFilter>(const TRect& frame, TDrawItem* first, const TEffectParams& params)>;

// None when the class is not positive. Otherwise the filter of the class and kind (a cross-fade for classes
// without one of their own, and for class 18 when the hook makes none), with its class, kind and options
// stored (roll diameter and broom offset scaled to the frame) and Setup called with the frame, the integer
// part of smooth line x frame width and the length.
TOwned<TDrawFilter> CreateFilter(const TRect& frame, int32_t effectClass, int32_t effectKind,
                                 TDrawItem* first, const TEffectParams& params, float length,
                                 const TCustomFilterHook& hook = {});

// The family name of a class: "mosaic", "fade", ... "swap", "custom"; "none" for no transition; a class
// without a family of its own plays as a fade and is named so.
std::string TransitionFamilyName(int32_t effectClass);
// What -info prints for a transition: the family, then "/type" when the type is 2..16; a custom transition
// is "custom/N" with its number (plain "custom" when it has none).
std::string TransitionLabel(int32_t effectClass, int32_t effectType, int32_t customNumber);

} // namespace kiv
