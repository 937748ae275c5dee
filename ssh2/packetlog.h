// The packet log: every packet a session sends or receives, as a header
// line and a hex dump of its payload. Passwords never reach it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

class CSshPacketLog {
public:
    // Opens (and truncates) the file, readable by its owner only. When the
    // file cannot be opened the log silently writes nothing.
    explicit CSshPacketLog(const std::string& path);
    // The per-user log file: <state folder>/ssh2.log.
    static std::string DefaultPath();

    bool IsOpen() const { return m_file.is_open(); }
    // packet: the five header bytes and the payload (type byte first);
    // length: 5 + payload length.
    void Log(bool incoming, const std::uint8_t* packet, std::size_t length);

    // The log text of one packet. An outgoing password request has the bytes
    // of its password strings replaced by asterisks.
    static std::string Format(bool incoming, const std::uint8_t* packet, std::size_t length);
    static const char* TypeName(unsigned type);

private:
    std::ofstream m_file;
};
