#include "platform/stream.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/com_object.h"

// A block's bytes: those written so far, then `zeroTail` zero bytes that a
// grown size added and nobody has read or written yet. Room made for a
// save is so filled once, by the save, instead of first with zeros.
struct GlobalBlock {
    std::vector<std::uint8_t> bytes;
    std::size_t zeroTail = 0;

    std::size_t Size() const { return bytes.size() + zeroTail; }
    // The whole block as bytes, its zero tail included.
    std::vector<std::uint8_t>& Whole()
    {
        if (zeroTail != 0) {
            bytes.resize(bytes.size() + zeroTail);
            zeroTail = 0;
        }
        return bytes;
    }
    void Resize(std::size_t size)
    {
        if (size <= bytes.size()) {
            bytes.resize(size);
            zeroTail = 0;
        } else {
            bytes.reserve(size);
            zeroTail = size - bytes.size();
        }
    }
};

namespace {

// Every live global block, owned here until GlobalFree.
class GlobalTable {
public:
    HGLOBAL Add(std::size_t size)
    {
        auto block = std::make_unique<GlobalBlock>();
        block->bytes.resize(size);
        HGLOBAL handle = block.get();
        std::lock_guard lock(m_mutex);
        m_blocks.emplace(handle, std::move(block));
        return handle;
    }
    bool Remove(HGLOBAL handle)
    {
        std::lock_guard lock(m_mutex);
        return m_blocks.erase(handle) != 0;
    }
    bool Contains(HGLOBAL handle)
    {
        std::lock_guard lock(m_mutex);
        return m_blocks.count(handle) != 0;
    }

private:
    std::mutex m_mutex;
    std::unordered_map<HGLOBAL, std::unique_ptr<GlobalBlock>> m_blocks;
};

GlobalTable& Blocks()
{
    static GlobalTable table;
    return table;
}

// A stream over the bytes of a global block: reads and writes at a position,
// growing the block as it is written.
class CBlockStream final : public IStream, private CRefCounted<CBlockStream> {
    friend class CRefCounted<CBlockStream>;

public:
    CBlockStream(HGLOBAL block, bool owns, std::size_t limit) : m_block(block), m_owns(owns), m_limit(limit) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
            *ppv = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return AddRefImpl(); }
    ULONG Release() override { return ReleaseImpl(); }

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (pcbRead) *pcbRead = 0;
        if (pv == nullptr && cb != 0) return E_POINTER;
        const std::size_t size = m_block->Size();
        const std::size_t available = m_position < size ? size - m_position : 0;
        const std::size_t n = std::min<std::size_t>(cb, available);
        if (m_position + n > m_block->bytes.size()) {
            try {
                m_block->Whole();
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
        }
        const auto& bytes = m_block->bytes;
        if (n != 0) std::memcpy(pv, bytes.data() + m_position, n);
        m_position += n;
        if (pcbRead) *pcbRead = static_cast<ULONG>(n);
        return n == cb ? S_OK : S_FALSE;
    }

    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (pcbWritten) *pcbWritten = 0;
        if (pv == nullptr && cb != 0) return E_POINTER;
        std::size_t n = cb;
        HRESULT result = S_OK;
        if (m_position >= m_limit) {
            n = 0;
        } else if (m_limit - m_position < n) {
            n = m_limit - m_position;
        }
        if (n != cb) result = STG_E_MEDIUMFULL;
        auto& bytes = m_block->bytes;
        const auto* source = static_cast<const std::uint8_t*>(pv);
        try {
            if (m_position == bytes.size()) {
                bytes.insert(bytes.end(), source, source + n);  // appending: no zero fill first
                m_block->zeroTail -= std::min(m_block->zeroTail, n);
            } else {
                m_block->Whole();
                if (bytes.size() < m_position + n) bytes.resize(m_position + n);
                if (n != 0) std::memcpy(bytes.data() + m_position, source, n);
            }
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        m_position += n;
        if (pcbWritten) *pcbWritten = static_cast<ULONG>(n);
        return result;
    }

    HRESULT Seek(std::int64_t move, DWORD origin, std::uint64_t* newPosition) override
    {
        std::int64_t base = 0;
        switch (origin) {
        case STREAM_SEEK_SET: base = 0; break;
        case STREAM_SEEK_CUR: base = static_cast<std::int64_t>(m_position); break;
        case STREAM_SEEK_END: base = static_cast<std::int64_t>(m_block->Size()); break;
        default: return STG_E_INVALIDFUNCTION;
        }
        if ((move < 0 && base < -move) || (move > 0 && std::numeric_limits<std::int64_t>::max() - base < move))
            return STG_E_INVALIDFUNCTION;
        m_position = static_cast<std::size_t>(base + move);
        if (newPosition) *newPosition = m_position;
        return S_OK;
    }

    HRESULT SetSize(std::uint64_t size) override
    {
        if (size > m_limit) return STG_E_MEDIUMFULL;
        try {
            m_block->Resize(static_cast<std::size_t>(size));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    HRESULT Stat(std::uint64_t* size) override
    {
        if (size == nullptr) return E_POINTER;
        *size = m_block->Size();
        return S_OK;
    }

    const std::vector<std::uint8_t>& bytes() const { return m_block->Whole(); }
    HGLOBAL block() const { return m_block; }

private:
    ~CBlockStream()
    {
        if (m_owns) GlobalFree(m_block);
    }

    HGLOBAL m_block;
    bool m_owns;
    std::size_t m_limit;
    std::size_t m_position = 0;
};

}  // namespace

HGLOBAL GlobalAlloc(UINT, std::size_t bytes)
{
    try {
        return Blocks().Add(bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

HGLOBAL GlobalFree(HGLOBAL block)
{
    if (block == nullptr) return nullptr;
    return Blocks().Remove(block) ? nullptr : block;
}

std::size_t GlobalSize(HGLOBAL block) { return block != nullptr && Blocks().Contains(block) ? block->Size() : 0; }

void* GlobalLock(HGLOBAL block)
{
    if (block == nullptr || !Blocks().Contains(block)) return nullptr;
    try {
        return block->Whole().data();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

BOOL GlobalUnlock(HGLOBAL) { return 0; }

HRESULT CreateStreamOnHGlobal(HGLOBAL block, BOOL deleteOnRelease, IStream** stream)
{
    if (stream == nullptr) return E_POINTER;
    *stream = nullptr;
    if (block == nullptr) {
        block = GlobalAlloc(GMEM_MOVEABLE, 0);
        if (block == nullptr) return E_OUTOFMEMORY;
    } else if (!Blocks().Contains(block)) {
        return E_INVALIDARG;
    }
    try {
        *stream = new CBlockStream(block, deleteOnRelease != 0, std::numeric_limits<std::size_t>::max());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT GetHGlobalFromStream(IStream* stream, HGLOBAL* block)
{
    if (block == nullptr) return E_INVALIDARG;
    *block = nullptr;
    const auto* memory = dynamic_cast<CBlockStream*>(stream);
    if (memory == nullptr) return E_INVALIDARG;
    *block = memory->block();
    return S_OK;
}

com_ptr<IStream> CreateMemoryStream(std::vector<std::uint8_t> initial)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 0);
    if (block == nullptr) throw std::bad_alloc();
    block->bytes = std::move(initial);
    return com_ptr<IStream>::attach(new CBlockStream(block, true, std::numeric_limits<std::size_t>::max()));
}

com_ptr<IStream> CreateLimitedStream(std::size_t limit)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 0);
    if (block == nullptr) throw std::bad_alloc();
    return com_ptr<IStream>::attach(new CBlockStream(block, true, limit));
}

std::vector<std::uint8_t> MemoryStreamBytes(IStream* stream)
{
    if (const auto* memory = dynamic_cast<CBlockStream*>(stream)) return memory->bytes();
    return {};
}

HRESULT StreamPosition(IStream* stream, std::uint64_t& position) { return stream->Seek(0, STREAM_SEEK_CUR, &position); }

HRESULT StreamSize(IStream* stream, std::uint64_t& size) { return stream->Stat(&size); }

HRESULT StreamSetSize(IStream* stream, std::uint64_t size) { return stream->SetSize(size); }

HRESULT StreamSkip(IStream* stream, std::uint64_t bytes)
{
    if (bytes > static_cast<std::uint64_t>(INT64_MAX)) return E_INVALIDARG;
    return stream->Seek(static_cast<std::int64_t>(bytes), STREAM_SEEK_CUR, nullptr);
}
