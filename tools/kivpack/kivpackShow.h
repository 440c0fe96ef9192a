#pragma once
// Shared pieces of the show commands.

#include "kivpackCommands.h"

#include "PackedShowReader.h"

#include <memory>
#include <string>

namespace kivpack {

// Opens a show, or reports why not on stderr (with the system's texts) and returns nullptr.
std::unique_ptr<kiv::TKivUnpack> OpenShow(const char* command, const std::string& path);

// Every stored file of a show, in structure order ("$protection$" left out).
std::vector<const kiv::TIniSection*> StoredFiles(const kiv::TKivUnpack& unpack);

int RunCreate(const TArgs& args);
int RunExtract(const TArgs& args);

} // namespace kivpack
