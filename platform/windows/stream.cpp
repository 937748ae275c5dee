#include "platform/stream.h"

#include <cstring>

#include "platform/com_object.h"

HRESULT StreamPosition(IStream* stream, std::uint64_t& position)
{
    LARGE_INTEGER move{};
    ULARGE_INTEGER now{};
    const HRESULT hr = stream->Seek(move, STREAM_SEEK_CUR, &now);
    if (SUCCEEDED(hr)) position = now.QuadPart;
    return hr;
}

HRESULT StreamSize(IStream* stream, std::uint64_t& size)
{
    STATSTG stat{};
    const HRESULT hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (SUCCEEDED(hr)) size = stat.cbSize.QuadPart;
    return hr;
}

HRESULT StreamSetSize(IStream* stream, std::uint64_t size)
{
    ULARGE_INTEGER wanted{};
    wanted.QuadPart = size;
    return stream->SetSize(wanted);
}

HRESULT StreamSkip(IStream* stream, std::uint64_t bytes)
{
    if (bytes > static_cast<std::uint64_t>(INT64_MAX)) return E_INVALIDARG;
    LARGE_INTEGER move{};
    move.QuadPart = static_cast<LONGLONG>(bytes);
    return stream->Seek(move, STREAM_SEEK_CUR, nullptr);
}

com_ptr<IStream> CreateMemoryStream(std::vector<std::uint8_t> initial)
{
    com_ptr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()))) throw std::bad_alloc();
    if (!initial.empty()) {
        ULONG written = 0;
        if (FAILED(stream->Write(initial.data(), static_cast<ULONG>(initial.size()), &written))) throw std::bad_alloc();
        LARGE_INTEGER start{};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
    }
    return stream;
}

std::vector<std::uint8_t> MemoryStreamBytes(IStream* stream)
{
    HGLOBAL block = nullptr;
    std::uint64_t size = 0;
    if (stream == nullptr || FAILED(GetHGlobalFromStream(stream, &block)) || FAILED(StreamSize(stream, size))) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(block));
    if (bytes == nullptr) return {};
    std::vector<std::uint8_t> copy(bytes, bytes + std::min<std::uint64_t>(size, GlobalSize(block)));
    GlobalUnlock(block);
    return copy;
}

namespace {

// A memory stream that refuses to grow past a limit, as a full disk would.
class CLimitedStream final : public IStream, private CRefCounted<CLimitedStream> {
    friend class CRefCounted<CLimitedStream>;

public:
    CLimitedStream(com_ptr<IStream> inner, std::size_t limit) : m_inner(std::move(inner)), m_limit(limit) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) return HandOut<IStream>(this, ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override { return m_inner->Read(pv, cb, pcbRead); }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (pcbWritten) *pcbWritten = 0;
        std::uint64_t position = 0;
        RETURN_IF_FAILED(StreamPosition(m_inner.get(), position));
        const std::uint64_t room = position >= m_limit ? 0 : m_limit - position;
        const ULONG n = room < cb ? static_cast<ULONG>(room) : cb;
        ULONG written = 0;
        if (n != 0) RETURN_IF_FAILED(m_inner->Write(pv, n, &written));
        if (pcbWritten) *pcbWritten = written;
        return n == cb ? S_OK : STG_E_MEDIUMFULL;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override
    {
        return m_inner->Seek(move, origin, position);
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override { return m_inner->SetSize(size); }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override { return m_inner->Stat(stat, flags); }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    ~CLimitedStream() = default;

    com_ptr<IStream> m_inner;
    std::size_t m_limit;
};

}  // namespace

com_ptr<IStream> CreateLimitedStream(std::size_t limit)
{
    return MakeComObject<CLimitedStream, IStream>(CreateMemoryStream(), limit);
}
