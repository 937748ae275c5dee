// The packet log: every packet a session sends or receives.
//
// At the default level ("headers") a packet is one line: its direction, its
// message type and the size of its payload; nothing of what it carries (no
// login name, no command or output, no server text), and no size of a packet
// whose size would tell the length of a login name or password. The full
// level adds a hex dump of every payload (the bytes of passwords and of a
// command's input still replaced by asterisks); "off" writes no log. The
// level comes from FERRODEX_PACKET_LOG when set, else from the DWORD
// PacketLogLevel of the product's registry key (0 off, 1 headers, 2 full).
//
// The text is kept in memory and written in large pieces: when enough has
// gathered, at Flush (the end of each step of a session) and when the log
// is closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/paths.h"

enum EPacketLogLevel {
    PACKETLOG_OFF,
    PACKETLOG_TYPES,  // message types and sizes only ("headers"): the default
    PACKETLOG_FULL,   // and the payloads
    PACKETLOG_HEADERS = PACKETLOG_TYPES,
};

class CSshPacketLog {
public:
    // Opens (and truncates) the file, readable by its owner only. When the
    // file cannot be opened the log silently writes nothing.
    CSshPacketLog(const std::string& path, EPacketLogLevel level);
    ~CSshPacketLog();
    CSshPacketLog(const CSshPacketLog&) = delete;
    CSshPacketLog& operator=(const CSshPacketLog&) = delete;
    // The per-user log file: <state folder>/ssh2.log.
    static std::string DefaultPath();
    // The level the user set in FERRODEX_PACKET_LOG ("off", "headers" or
    // "types", "full"); PACKETLOG_TYPES when unset or unknown.
    static EPacketLogLevel LevelFromEnvironment();
    // FERRODEX_PACKET_LOG when set, else the registry's PacketLogLevel, else
    // the default.
    static EPacketLogLevel LevelFromSettings();
    EPacketLogLevel Level() const { return m_level; }

    bool IsOpen() const { return m_file != nullptr; }
    // packet: the five header bytes and the payload (type byte first);
    // length: 5 + payload length.
    void Log(bool incoming, const std::uint8_t* packet, std::size_t length);
    // Writes what is gathered to the file.
    void Flush();

    // The log text of one packet at `level`. At the full level an outgoing
    // password request has the bytes of its password strings replaced by
    // asterisks.
    static std::string Format(bool incoming, const std::uint8_t* packet, std::size_t length, EPacketLogLevel level);
    // The same, appended to `out`.
    static void FormatTo(std::string& out, bool incoming, const std::uint8_t* packet, std::size_t length,
                         EPacketLogLevel level);
    static const char* TypeName(unsigned type);

private:
    // What gathers before a write.
    static constexpr std::size_t kFlushBytes = 64 * 1024;

    FilePtr m_file;
    EPacketLogLevel m_level;
    std::string m_pending;
};
