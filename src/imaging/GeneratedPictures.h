#pragma once
// The pictures that generated names ask for ("PresetedMask:", "Shadow: ", "Button: "), made from the rest
// of the name and the show's files. The slide host serves them to slides; kivpack writes them out.

#include "ButtonGenerator.h"
#include "CachedBitmap.h"

#include <functional>
#include <memory>
#include <string_view>

namespace kiv {

class TFileAccessor;

// Asked between rows of long work; false stops it.
using TGeneratorCancelFunc = std::function<bool()>;

TRef<TCachedBitmap> MakePresetMaskPicture(std::u16string_view rest, TGeneratorCancelFunc cancel = nullptr);
// The source picture comes through the show's files at the level the name gives; nullptr when the
// source is missing.
TRef<TCachedBitmap> MakeShadowPicture(TFileAccessor* accessor, std::u16string_view rest,
                                      TGeneratorCancelFunc cancel = nullptr);
// Button producers whose descriptions and patch pictures come from the show's files.
std::unique_ptr<TButtonProducerHost> MakeButtonProducerHost(TFileAccessor* accessor,
                                                            TGeneratorCancelFunc cancel = nullptr);

} // namespace kiv
