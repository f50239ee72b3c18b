// The shared half of the path port: text operations on paths and the folder
// walk of CreateFolders over the per-platform primitives.
#include "platform/Paths.h"

#include "platform/Files.h"

namespace port {
namespace {

// Windows takes both separators; POSIX only the slash.
const char* Separators() {
    return PathSeparator() == '\\' ? "\\/" : "/";
}

bool IsSeparator(char c) {
    return c == '/' || c == PathSeparator();
}

} // namespace

std::string ParentFolder(const std::string& path) {
    const std::string::size_type cut = path.find_last_of(Separators());
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string FileNameWithoutExtension(const std::string& path) {
    const std::string::size_type cut = path.find_last_of(Separators());
    std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    const std::string::size_type dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

bool CreateFolders(const std::string& path) {
    std::string folder = path;
    while (folder.size() > 1 && IsSeparator(folder.back()))
        folder.pop_back();
    if (folder.empty())
        return false;
    if (IsFolder(folder))
        return true;
    // Parents first. A drive ("C:") or the root needs no creating; if a
    // parent cannot be made, MakeFolder below fails and says why.
    const std::string parent = ParentFolder(folder);
    if (!parent.empty() && parent.size() < folder.size() &&
        !(parent.size() >= 2 && parent[parent.size() - 2] == ':'))
        CreateFolders(parent);
    return MakeFolder(folder);
}

} // namespace port
