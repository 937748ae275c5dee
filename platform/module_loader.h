// Loading a module (shared library) by path and finding its exports, in the
// manner of LoadLibrary / GetProcAddress / FreeLibrary.
#pragma once

#include <memory>
#include <string>

#include "platform/com.h"

struct LoadedLibrary;
using HLIBRARY = LoadedLibrary*;

// Loads the module at `path` (its initialisers run); null on failure, with
// the loader's reason in *error when given.
HLIBRARY LoadLibrary(const std::string& path, std::string* error = nullptr);
// The address of an exported symbol; null when the module has none.
void* GetProcAddress(HLIBRARY library, const char* name);
// Drops the reference LoadLibrary took; the module may be unmapped.
BOOL FreeLibrary(HLIBRARY library);

struct LibraryFreer {
    void operator()(LoadedLibrary* library) const { FreeLibrary(library); }
};
using LibraryPtr = std::unique_ptr<LoadedLibrary, LibraryFreer>;

// The full path of the running program; empty when unknown.
std::string ExecutablePath();
// The folder that holds the running program; empty when unknown.
std::string ExecutableFolder();
