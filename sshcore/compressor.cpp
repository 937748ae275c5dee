#include "sshcore/compressor.h"

#include "sshcore/errors.h"

CSshCompressor::CSshCompressor(bool zlib, bool delayed)
    : m_bZlib(zlib), m_bDelayed(zlib && delayed), m_bActive(!m_bDelayed)
{
}
CSshCompressor::~CSshCompressor() = default;

std::unique_ptr<CSshCompressor> CSshCompressor::Create(std::string_view name)
{
    if (name == "zlib") return std::make_unique<CSshCompressor>(true);
    if (name == "zlib@openssh.com") return std::make_unique<CSshCompressor>(true, true);
    if (name == "none") return std::make_unique<CSshCompressor>(false);
    return nullptr;
}

std::unique_ptr<CSshCompressor> CSshCompressor::Clone() const
{
    return std::make_unique<CSshCompressor>(m_bZlib, m_bDelayed);
}

bool CSshCompressor::Compress(ByteView data, std::vector<std::uint8_t>& out)
{
    if (!Active()) return false;
    if (!m_pDeflate) m_pDeflate = std::make_unique<sshcore::CZlibStream>(true);
    const bool store = m_bStoreNext;
    m_bStoreNext = false;
    out.clear();
    using sshcore::CZlibStream;
    using sshcore::EZlibStatus;
    if (store && m_pDeflate->SetLevel(CZlibStream::kStored, out) != EZlibStatus::Ok) throw sshcore::CCoreError(sshcore::ECoreError::Internal);
    if (m_pDeflate->Run(data, out) != EZlibStatus::Ok) throw sshcore::CCoreError(sshcore::ECoreError::Internal);
    if (store && m_pDeflate->SetLevel(CZlibStream::kDefaultLevel, out) != EZlibStatus::Ok) throw sshcore::CCoreError(sshcore::ECoreError::Internal);
    m_bStarted = true;
    return true;
}

bool CSshCompressor::Decompress(ByteView data, std::vector<std::uint8_t>& out)
{
    if (!Active()) return false;
    if (!m_pInflate) m_pInflate = std::make_unique<sshcore::CZlibStream>(false);
    out.clear();
    if (m_pInflate->Run(data, out, kMaxInflated) != sshcore::EZlibStatus::Ok) throw sshcore::CCoreError(sshcore::ECoreError::Corrupt);
    return true;
}

void CSshCompressor::ReleaseTables()
{
    m_pDeflate.reset();
    m_pInflate.reset();
}

std::size_t CSshCompressor::DisableCompression()
{
    if (!Active()) return 0;
    m_bStoreNext = true;
    if (!m_bStarted || !m_pDeflate) return kFirstStoredGrowth;
    // End of the open block, stored-block header and lengths, and the empty
    // block of the flush.
    return (m_pDeflate->PendingBits() + 10) / 8 + 4 + 2;
}
