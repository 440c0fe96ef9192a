#include "Exceptions.h"

namespace kiv {

void TCommonException::SetClassMessage(const char* className) {
  SetMessage(std::string("Brask Exception: \"") + className + "\"");
}

} // namespace kiv
