// Resources embedded in a module: strings, dialog templates, HTML pages,
// bitmaps and icons, looked up by type and id or by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/gdi.h"

#ifdef _WIN32
#undef FindResource
#undef LoadString
#undef LoadBitmap
#undef LoadIcon
#undef GetModuleFileName
#endif

struct ResourceEntry {
    const char* type;  // "STRINGS", "DIALOGS", "HTML", "BITMAP", "ICON"
    int id;            // numeric id, or 0 for a named resource
    const char* name;  // name, or "" for a numbered one
    const std::uint8_t* data;
    std::size_t size;
};

struct ResourceModule {
    const ResourceEntry* entries;
    std::size_t count;
};

#ifndef _WIN32
// A module handle names the resources of one loaded module.
using HINSTANCE = const ResourceModule*;
using HMODULE = HINSTANCE;

// The symbol every resource-carrying module exports for its table.
#define FDX_RESOURCE_SYMBOL "FdxResourceModule"

// The table of the module this code is linked into.
extern "C" const ResourceModule FdxResourceModule;
constexpr HINSTANCE ThisModule() { return &FdxResourceModule; }
#else
// The module this code is linked into.
HINSTANCE ThisModule();
#endif

const ResourceEntry* FindResource(HINSTANCE module, const char* type, int id);
const ResourceEntry* FindResourceByName(HINSTANCE module, const char* type, const char* name);

// String table entry `id`; empty when there is none.
std::u16string LoadString(HINSTANCE module, UINT id);
// Copies at most size-1 characters and a terminator; returns the count.
int LoadString(HINSTANCE module, UINT id, char16_t* buffer, int size);

// Bitmap or icon resource; null when missing. Free with DeleteObject.
HBITMAP LoadBitmap(HINSTANCE module, int id);
HICON LoadIcon(HINSTANCE module, int id);

// A control of a dialog template.
struct DialogControlTemplate {
    int id = 0;
    std::string kind;  // "static", "edit", "password", "digits", "check", "button", "icon", "image", "frame", "animation"
    std::u16string text;
    int limit = 0;         // most characters an edit accepts, 0 for no limit
    bool visible = true;
    bool focus = false;
};

struct DialogTemplate {
    int id = 0;
    std::u16string title;
    std::vector<DialogControlTemplate> controls;
};

// Parses dialog template `id` from the module's dialog resources.
bool LoadDialogTemplate(HINSTANCE module, int id, DialogTemplate& out);

// The full path of the module's file (the executable for a program).
std::string GetModuleFileName(HINSTANCE module);
