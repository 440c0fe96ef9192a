#include "NameHashList.h"

#include "CaseFolding.h"

namespace kiv {

std::u16string HashKey(std::u16string_view name, THashKeyMode mode) {
  return mode == THashKeyMode::FoldCase ? LowerCase(name) : std::u16string(name);
}

} // namespace kiv
