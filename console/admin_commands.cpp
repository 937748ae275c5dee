#include "console/admin_commands.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <vector>

#include "console/history_recorder.h"
#include "console/json_writer.h"
#include "platform/product_settings.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "platform/terminal_text.h"
#include "platform/text.h"
#include "sshcore/hostkey_trust.h"

namespace {

constexpr int kRefused = 2;

int Refuse(const std::string& message)
{
    std::fprintf(stderr, "Error: %s\n", TerminalText(message).c_str());
    return kRefused;
}

// The one text setting: the history every console writes to besides its own.
constexpr char kHistoryDatabaseMeaning[] =
    "a history every console writes to besides its own file: a PostgreSQL URL or connection string (no password: "
    "~/.pgpass), or an SQLite file";

bool IsHistoryDatabase(const std::string& name)
{
    if (name.size() != std::string_view(kHistoryDatabaseSetting).size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) !=
            std::tolower(static_cast<unsigned char>(kHistoryDatabaseSetting[i])))
            return false;
    return true;
}

std::string StoredHistoryDatabase()
{
    std::u16string value;
    return ReadSettingText(kProductSettingsKey, AnsiToWide(kHistoryDatabaseSetting), value) ? WideToAnsi(value)
                                                                                           : std::string();
}

int SetHistoryDatabase(const std::string& value)
{
    const std::u16string valueName = AnsiToWide(kHistoryDatabaseSetting);
    LONG rc = ERROR_SUCCESS;
    if (value == "default") {
        HKEY opened = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, kProductSettingsKey, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS) return 0;
        const RegKeyPtr key(opened);
        rc = RegDeleteValue(key.get(), valueName);
        if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
    } else {
        if (const std::string refusal = CheckHistoryChoice(value); !refusal.empty()) return Refuse(refusal);
        rc = RegWriteString(HKEY_CURRENT_USER, kProductSettingsKey, valueName, AnsiToWide(value));
    }
    if (rc == ERROR_SUCCESS) return 0;
    std::fprintf(stderr, "Error: %s could not be stored (registry error %ld)\n", kHistoryDatabaseSetting,
                 static_cast<long>(rc));
    return 1;
}

const SProductSetting* Named(const std::string& name)
{
    const SProductSetting* setting = FindProductSetting(name);
    if (setting == nullptr) Refuse("no setting is named \"" + name + "\"; `ferrodex config list` shows them");
    return setting;
}

// "HOST", "HOST:PORT" or "[HOST]:PORT" (as ssh-keygen writes a host on
// another port); the port is empty when none is given.
bool SplitHostPort(const std::string& text, std::string& host, std::optional<std::uint32_t>& port)
{
    std::string portText;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) return false;
        host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') return false;
            portText = text.substr(close + 2);
            if (portText.empty()) return false;
        }
    } else if (const std::size_t colon = text.rfind(':');
               colon != std::string::npos && text.find(':') == colon) {  // one colon: a port
        host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (portText.empty()) return false;
    } else {
        host = text;
    }
    if (host.empty()) return false;
    port.reset();
    if (portText.empty()) return true;
    std::uint32_t value = 0;
    for (char c : portText) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535) return false;
    }
    if (value == 0) return false;
    port = value;
    return true;
}

// The host as ssh-keygen writes it: "host" on port 22, else "[host]:port".
std::string HostColumn(const sshcore::SStoredHostKey& key)
{
    return key.port == 22 ? key.host : "[" + key.host + "]:" + std::to_string(key.port);
}

}  // namespace

int CommandConfigList(bool json)
{
    if (json) {
        CJsonWriter writer;
        writer.BeginArray();
        for (const SProductSetting& setting : ProductSettings()) {
            writer.BeginObject();
            writer.Key("name");
            writer.String(ProductSettingName(setting));
            writer.Key("value");
            writer.Number(ProductSettingValue(setting));
            writer.Key("default");
            writer.Number(setting.defaultValue);
            writer.Key("minimum");
            writer.Number(setting.minimum);
            writer.Key("maximum");
            writer.Number(setting.maximum);
            DWORD stored = 0;
            writer.Key("stored");
            if (ProductSettingStored(setting, stored))
                writer.Number(stored);
            else
                writer.Null();
            writer.Key("meaning");
            writer.String(std::string_view(setting.meaning));
            writer.EndObject();
        }
        writer.BeginObject();
        writer.Key("name");
        writer.String(std::string_view(kHistoryDatabaseSetting));
        writer.Key("value");
        writer.String(HistoryShownAs(StoredHistoryDatabase()));
        writer.Key("default");
        writer.String(std::string_view(""));
        writer.Key("meaning");
        writer.String(std::string_view(kHistoryDatabaseMeaning));
        writer.EndObject();
        writer.EndArray();
        std::printf("%s\n", writer.Text().c_str());
        return 0;
    }
    std::size_t width = 4;
    for (const SProductSetting& setting : ProductSettings()) width = std::max(width, ProductSettingName(setting).size());
    std::printf("%-*s  %7s  %7s  %s\n", static_cast<int>(width), "NAME", "VALUE", "DEFAULT", "MEANING");
    for (const SProductSetting& setting : ProductSettings()) {
        DWORD stored = 0;
        std::string meaning = setting.meaning;
        // A stored value outside the bounds is not used; say so.
        const DWORD value = ProductSettingValue(setting);
        if (ProductSettingStored(setting, stored) && stored != value)
            meaning += " (stored " + std::to_string(stored) + " is out of bounds and not used)";
        std::printf("%-*s  %7lu  %7lu  %s\n", static_cast<int>(width), ProductSettingName(setting).c_str(),
                    static_cast<unsigned long>(value), static_cast<unsigned long>(setting.defaultValue),
                    meaning.c_str());
    }
    const std::string history = StoredHistoryDatabase();
    std::printf("%-*s  %7s  %7s  %s%s\n", static_cast<int>(width), kHistoryDatabaseSetting, history.empty() ? "-" : "set",
                "-", kHistoryDatabaseMeaning,
                history.empty() ? "" : TerminalText(" (now " + HistoryShownAs(history) + ")").c_str());
    return 0;
}

int CommandConfigGet(const std::string& name)
{
    if (IsHistoryDatabase(name)) {
        std::printf("%s\n", TerminalText(StoredHistoryDatabase()).c_str());
        return 0;
    }
    const SProductSetting* setting = Named(name);
    if (setting == nullptr) return kRefused;
    std::printf("%lu\n", static_cast<unsigned long>(ProductSettingValue(*setting)));
    return 0;
}

int CommandConfigSet(const std::string& name, const std::string& value)
{
    if (IsHistoryDatabase(name)) return SetHistoryDatabase(value);
    const SProductSetting* setting = Named(name);
    if (setting == nullptr) return kRefused;
    const std::u16string valueName = setting->name;
    if (value == "default") {
        HKEY opened = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, setting->subKey, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS) return 0;
        const RegKeyPtr key(opened);
        const LONG rc = RegDeleteValue(key.get(), valueName);
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
            std::fprintf(stderr, "Error: %s could not be reset (registry error %ld)\n", ProductSettingName(*setting).c_str(),
                         static_cast<long>(rc));
            return 1;
        }
        return 0;
    }
    DWORD number = 0;
    if (const std::string refusal = CheckProductSettingText(*setting, value, number); !refusal.empty())
        return Refuse(refusal);
    if (const LONG rc = RegWriteDword(HKEY_CURRENT_USER, setting->subKey, valueName, number); rc != ERROR_SUCCESS) {
        std::fprintf(stderr, "Error: %s could not be stored (registry error %ld)\n", ProductSettingName(*setting).c_str(), static_cast<long>(rc));
        return 1;
    }
    return 0;
}

int CommandKnownHostsList(const std::string& host, bool json)
{
    std::string wantedHost;
    std::optional<std::uint32_t> wantedPort;
    if (!host.empty() && !SplitHostPort(host, wantedHost, wantedPort))
        return Refuse("\"" + host + "\" is no host: write HOST, HOST:PORT or [HOST]:PORT");
    CJsonWriter writer;
    if (json) writer.BeginArray();
    std::size_t shown = 0;
    for (const sshcore::SStoredHostKey& key : sshcore::ListStoredHostKeys()) {
        if (!host.empty() && (key.host != wantedHost || (wantedPort && key.port != *wantedPort))) continue;
        const std::vector<std::uint8_t> blob = sshcore::HostKeyBlobFromCache(key.cacheType, key.keyString);
        const std::string fingerprint = blob.empty() ? std::string("(unreadable)") : sshcore::Sha256Fingerprint(blob);
        const std::string accepted = sshcore::ReadHostKeyAcceptance(key.cacheType, key.port, key.host);
        ++shown;
        if (json) {
            writer.BeginObject();
            writer.Key("host");
            writer.String(key.host);
            writer.Key("port");
            writer.Number(key.port);
            writer.Key("type");
            writer.String(sshcore::HostKeyTypeLabel(key.cacheType));
            writer.Key("bits");
            writer.Number(sshcore::HostKeyBits(key.cacheType, key.keyString));
            writer.Key("fingerprint");
            writer.String(fingerprint);
            // The record of an explicit yes: "TIME FINGERPRINT WHY".
            if (!accepted.empty()) {
                writer.Key("accepted");
                writer.String(accepted.substr(0, accepted.find(' ')));
            }
            writer.EndObject();
            continue;
        }
        std::string line = std::to_string(sshcore::HostKeyBits(key.cacheType, key.keyString)) + " " + fingerprint +
                           " " + TerminalText(HostColumn(key)) + " (" + sshcore::HostKeyTypeLabel(key.cacheType) + ")";
        if (!accepted.empty()) line += " accepted " + TerminalText(accepted.substr(0, accepted.find(' ')));
        std::printf("%s\n", line.c_str());
    }
    if (json) {
        writer.EndArray();
        std::printf("%s\n", writer.Text().c_str());
    }
    // As grep: 1 when a host was asked about and nothing is stored for it.
    return !host.empty() && shown == 0 ? 1 : 0;
}

int CommandKnownHostsForget(const std::string& host)
{
    std::string name;
    std::optional<std::uint32_t> port;
    if (!SplitHostPort(host, name, port))
        return Refuse("\"" + host + "\" is no host: write HOST, HOST:PORT or [HOST]:PORT");
    const std::uint32_t on = port.value_or(22);
    const std::size_t removed = sshcore::ForgetStoredHostKeys(name, on);
    const std::string shown = TerminalText(on == 22 ? name : "[" + name + "]:" + std::to_string(on));
    if (removed == 0) {
        std::fprintf(stderr, "Error: no host key is stored for %s\n", shown.c_str());
        return 1;
    }
    std::printf("Forgot %zu host key%s of %s\n", removed, removed == 1 ? "" : "s", shown.c_str());
    return 0;
}
