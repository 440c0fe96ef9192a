#pragma once
// Tests write a project's main keys as "key=value" lines.

#include "IniDocument.h"

#include <string_view>

namespace kivtest {

inline void WriteMainKeys(kiv::TIniFile& project, std::string_view lines) {
  for (size_t at = 0; at < lines.size();) {
    size_t end = lines.find('\n', at);
    if (end == std::string_view::npos) end = lines.size();
    const std::string_view line = lines.substr(at, end - at);
    const size_t eq = line.find('=');
    if (eq != std::string_view::npos)
      project.WriteString(u"main", std::u16string(line.begin(), line.begin() + static_cast<long>(eq)),
                          std::u16string(line.begin() + static_cast<long>(eq) + 1, line.end()));
    at = end + 1;
  }
}

} // namespace kivtest
