// The compression of an SSH-2 session, one object per direction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sshcore/reader.h"
#include "sshcore/zlib_stream.h"

// "zlib" (one deflate and one inflate stream per direction for the whole
// session), "zlib@openssh.com" (the same, switched on only once the user is
// authenticated) or "none".
class CSshCompressor {
public:
    // Largest payload Decompress produces from one packet.
    static constexpr std::size_t kMaxInflated = 256 * 1024;
    // How much the first packet grows when it is stored: the stream header,
    // the stored block's header and lengths, the flush's empty block.
    static constexpr std::size_t kFirstStoredGrowth = 7;

    // delayed: "zlib@openssh.com", idle until Activate().
    explicit CSshCompressor(bool zlib, bool delayed = false);
    ~CSshCompressor();
    CSshCompressor(const CSshCompressor&) = delete;
    CSshCompressor& operator=(const CSshCompressor&) = delete;

    static std::unique_ptr<CSshCompressor> Create(std::string_view name);
    std::unique_ptr<CSshCompressor> Clone() const;
    std::string Name() const { return m_bZlib ? (m_bDelayed ? "zlib@openssh.com" : "zlib") : "none"; }
    // Starts a delayed compressor (after the user authentication succeeded).
    void Activate() { m_bActive = true; }
    bool Active() const { return m_bZlib && m_bActive; }

    // False (and out untouched) when the object does not compress (yet).
    bool Compress(ByteView data, std::vector<std::uint8_t>& out);
    // False when the object does not compress; raises CCoreError (Corrupt) on
    // a corrupt stream or more than kMaxInflated bytes of output.
    bool Decompress(ByteView data, std::vector<std::uint8_t>& out);
    void ReleaseTables();
    // The next Compress stores its data instead of compressing it. Returns
    // how many bytes that packet may grow in the compressed stream.
    std::size_t DisableCompression();

private:
    bool m_bZlib;
    bool m_bDelayed;
    bool m_bActive;
    std::unique_ptr<sshcore::CZlibStream> m_pDeflate, m_pInflate;
    bool m_bStoreNext = false;
    bool m_bStarted = false;
};
