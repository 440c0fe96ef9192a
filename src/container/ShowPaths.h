#pragma once
// File names as shows write them (Windows paths, made on case-insensitive file systems) mapped onto this
// file system, and the few path operations the container and the shell share. Paths are UTF-8 with "/".

#include <string>
#include <string_view>

namespace kiv {

// "\" becomes "/"; nothing else changes.
std::string ToLocalPath(std::string_view name);
// "C:/..." or "C:" (after ToLocalPath): a name that only means something on the author's machine.
bool HasDriveLetter(std::string_view path);

// The part after the last separator ("/" or "\").
std::string ExtractFileName(std::string_view path);
// Up to and including the last separator; "" when there is none.
std::string ExtractFilePath(std::string_view path);
// The folder without its trailing separator ("/" stays "/").
std::string ExtractFileDir(std::string_view path);
// The extension with its dot, of the file part; "" when there is none.
std::string ExtractFileExt(std::string_view path);
// Replaces the file part's extension, or appends ext when it has none.
std::string ChangeFileExt(std::string_view path, std::string_view ext);
// path with a trailing "/" (an empty path stays empty).
std::string IncludeTrailingSlash(std::string_view path);

// Joins a name to a folder unless the name is absolute, and folds "." and ".." steps lexically, as the
// show's author's system did ("..\" climbs folders whether or not the folder on the way exists).
std::string ExpandFileName(std::string_view folder, std::string_view name);

// A relative name as a show writes it, taken in folder (see ExpandFileName); an absolute name or one on
// the author's drive ("C:...") comes back as written. Never a name of the working folder when folder is
// absolute.
std::string ExpandRelativeName(std::string_view folder, std::string_view name);

// Existence of a file that is not a folder, and of a folder.
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// The path itself when it exists; else the path whose every component matches ignoring letter case
// (the first match in name order); "" when there is none.
std::string FindPathIgnoringCase(const std::string& path);

// The program file and its folder with a trailing "/"; tests may pretend to be another program.
std::string ProgramFileName();
std::string ProgramFolder();
void SetProgramFileName(std::string path); // "" restores the real one

// "%styles%" becomes the program folder's "All/Themes", or when the resulting file does not exist there,
// the user's data folder's "Brask/Styles". Other "%" parts stay.
std::string ExpandPathMacros(std::string_view name);

} // namespace kiv
