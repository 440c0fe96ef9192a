#pragma once
// The object factory: content kinds register a maker under their type name, and slides make their
// objects by the type a project gives them.

#include "SlideObject.h"

#include <string>
#include <string_view>

namespace kiv {

// Makes a child of a content kind.
using TKivObjectMaker = TOwned<TKivObject> (*)(TKivObject* parent, std::u16string guid);
// Registers a kind under a lower-case type name; answers the maker it replaced (nullptr unregisters).
TKivObjectMaker RegisterKivObjectKind(std::u16string_view type, TKivObjectMaker maker);
// nullptr for an unknown type.
TOwned<TKivObject> CreateKivObject(std::u16string_view type, TKivObject* parent, std::u16string guid);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", random.
std::u16string NewObjectGuid();

} // namespace kiv
