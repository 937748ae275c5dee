#include "platform/resources.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstring>
#include <map>
#include <mutex>

#include "platform/text.h"

namespace {

// A cursor over resource text that never reads past its end.
class TextReader {
public:
    explicit TextReader(std::string_view text) : m_text(text) {}

    bool AtEnd() const { return m_pos >= m_text.size(); }

    void SkipBlanks()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' || m_text[m_pos] == '\r')) ++m_pos;
    }

    // Skips the rest of the line and its line feed.
    void NextLine()
    {
        const std::size_t end = m_text.find('\n', m_pos);
        m_pos = end == std::string_view::npos ? m_text.size() : end + 1;
    }

    bool AtLineEnd()
    {
        SkipBlanks();
        return AtEnd() || m_text[m_pos] == '\n' || m_text[m_pos] == '#';
    }

    // A run of characters up to white space.
    std::string_view Word()
    {
        SkipBlanks();
        const std::size_t start = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] != ' ' && m_text[m_pos] != '\t' && m_text[m_pos] != '\n' &&
               m_text[m_pos] != '\r')
            ++m_pos;
        return m_text.substr(start, m_pos - start);
    }

    // A quoted text with the escapes \n, \t, \" and \\.
    bool Quoted(std::string& out)
    {
        SkipBlanks();
        out.clear();
        if (AtEnd() || m_text[m_pos] != '"') return false;
        ++m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] != '\n') {
            const char c = m_text[m_pos++];
            if (c == '"') return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_text.size()) return false;
            const char e = m_text[m_pos++];
            out += e == 'n' ? '\n' : e == 't' ? '\t' : e;
        }
        return false;
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

bool ParseNumber(std::string_view text, int& out)
{
    if (text.empty() || text.size() > 9) return false;
    out = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        out = out * 10 + (c - '0');
    }
    return true;
}

std::string_view EntryText(const ResourceEntry* entry)
{
    return entry == nullptr ? std::string_view() : std::string_view(reinterpret_cast<const char*>(entry->data), entry->size);
}

// The parsed string table of one module, built on first use.
const std::map<UINT, std::u16string>& StringTable(HINSTANCE module)
{
    static std::mutex mutex;
    static std::map<HINSTANCE, std::map<UINT, std::u16string>> tables;
    std::lock_guard lock(mutex);
    auto [it, inserted] = tables.try_emplace(module);
    if (!inserted) return it->second;
    TextReader reader(EntryText(FindResource(module, "STRINGS", 1)));
    while (!reader.AtEnd()) {
        if (!reader.AtLineEnd()) {
            int id = 0;
            std::string text;
            if (ParseNumber(reader.Word(), id) && reader.Quoted(text)) it->second[static_cast<UINT>(id)] = AnsiToWide(text);
        }
        reader.NextLine();
    }
    return it->second;
}

}  // namespace

const ResourceEntry* FindResource(HINSTANCE module, const char* type, int id)
{
    if (module == nullptr || type == nullptr) return nullptr;
    for (std::size_t i = 0; i < module->count; ++i) {
        const ResourceEntry& e = module->entries[i];
        if (e.id == id && id != 0 && std::strcmp(e.type, type) == 0) return &e;
    }
    return nullptr;
}

const ResourceEntry* FindResourceByName(HINSTANCE module, const char* type, const char* name)
{
    if (module == nullptr || type == nullptr || name == nullptr) return nullptr;
    for (std::size_t i = 0; i < module->count; ++i) {
        const ResourceEntry& e = module->entries[i];
        if (std::strcmp(e.type, type) == 0 && strcasecmp(e.name, name) == 0) return &e;
    }
    return nullptr;
}

std::u16string LoadString(HINSTANCE module, UINT id)
{
    const auto& table = StringTable(module);
    const auto it = table.find(id);
    return it == table.end() ? std::u16string() : it->second;
}

int LoadString(HINSTANCE module, UINT id, char16_t* buffer, int size)
{
    if (buffer == nullptr || size <= 0) return 0;
    const std::u16string text = LoadString(module, id);
    const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, text.data(), n * sizeof(char16_t));
    buffer[n] = u'\0';
    return static_cast<int>(n);
}

bool LoadDialogTemplate(HINSTANCE module, int id, DialogTemplate& out)
{
    TextReader reader(EntryText(FindResource(module, "DIALOGS", 1)));
    bool inside = false;
    while (!reader.AtEnd()) {
        if (reader.AtLineEnd()) {
            reader.NextLine();
            continue;
        }
        const std::string_view word = reader.Word();
        if (!inside) {
            int number = 0;
            std::string title;
            if (word == "dialog" && ParseNumber(reader.Word(), number) && number == id && reader.Quoted(title)) {
                out = DialogTemplate{};
                out.id = id;
                out.title = AnsiToWide(title);
                inside = true;
            }
        } else if (word == "end") {
            return true;
        } else {
            DialogControlTemplate control;
            control.kind = std::string(word);
            std::string text;
            if (!ParseNumber(reader.Word(), control.id) || !reader.Quoted(text)) return false;
            control.text = AnsiToWide(text);
            while (!reader.AtLineEnd()) {
                const std::string_view option = reader.Word();
                if (option == "hidden") control.visible = false;
                else if (option == "focus") control.focus = true;
                else if (option.starts_with("limit=") && !ParseNumber(option.substr(6), control.limit)) return false;
            }
            out.controls.push_back(std::move(control));
        }
        reader.NextLine();
    }
    return false;
}

std::string GetModuleFileName(HINSTANCE module)
{
    ::Dl_info info{};
    if (module == nullptr || ::dladdr(static_cast<const void*>(module), &info) == 0 || info.dli_fname == nullptr)
        return {};
    char resolved[PATH_MAX];
    if (::realpath(info.dli_fname, resolved) != nullptr) return resolved;
    return info.dli_fname;
}
