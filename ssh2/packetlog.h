// The packet log: every packet a session sends or receives.
//
// At the default level a packet is one line: its direction, its message
// type and the size of its payload; nothing of what it carries (no login
// name, no command or output, no server text), and no size of a packet whose
// size would tell the length of a login name or password. The full level,
// asked for with FERRODEX_PACKET_LOG=full, adds a hex dump of every payload
// (the bytes of passwords and of a command's input still replaced by
// asterisks); "off" writes no log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/paths.h"

enum EPacketLogLevel {
    PACKETLOG_OFF,
    PACKETLOG_TYPES,  // message types and sizes only: the default
    PACKETLOG_FULL,   // and the payloads
};

class CSshPacketLog {
public:
    // Opens (and truncates) the file, readable by its owner only. When the
    // file cannot be opened the log silently writes nothing.
    CSshPacketLog(const std::string& path, EPacketLogLevel level);
    // The per-user log file: <state folder>/ssh2.log.
    static std::string DefaultPath();
    // The level the user set in FERRODEX_PACKET_LOG ("off", "types", "full");
    // PACKETLOG_TYPES when unset or unknown.
    static EPacketLogLevel LevelFromEnvironment();

    bool IsOpen() const { return m_file != nullptr; }
    // packet: the five header bytes and the payload (type byte first);
    // length: 5 + payload length.
    void Log(bool incoming, const std::uint8_t* packet, std::size_t length);

    // The log text of one packet at `level`. At the full level an outgoing
    // password request has the bytes of its password strings replaced by
    // asterisks.
    static std::string Format(bool incoming, const std::uint8_t* packet, std::size_t length, EPacketLogLevel level);
    static const char* TypeName(unsigned type);

private:
    FilePtr m_file;
    EPacketLogLevel m_level;
};
