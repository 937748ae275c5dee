// Byte streams: the IStream contract, global-memory blocks, and memory- and
// file-backed stream objects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com.h"

#ifdef _WIN32
FDX_SYSTEM_IID(ISequentialStream, "0C733A30-2A1C-11CE-ADE5-00AA0044773D");
FDX_SYSTEM_IID(IStream, "0000000C-0000-0000-C000-000000000046");
FDX_SYSTEM_IID(IPersist, "0000010C-0000-0000-C000-000000000046");
FDX_SYSTEM_IID(IPersistStream, "00000109-0000-0000-C000-000000000046");
#else
constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;

class ISequentialStream : public IUnknown {
public:
    // Reads up to cb bytes; *pcbRead (when given) receives the count read.
    // Reading at the end gives S_OK with 0 bytes, a short read S_FALSE.
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;

protected:
    ~ISequentialStream() = default;
};
FDX_DECLARE_IID(ISequentialStream, "0C733A30-2A1C-11CE-ADE5-00AA0044773D");

// Sizes of streams, as the persistence calls pass them.
using ULARGE_INTEGER = std::uint64_t;

class IStream : public ISequentialStream {
public:
    virtual HRESULT Seek(std::int64_t move, DWORD origin, std::uint64_t* newPosition) = 0;
    virtual HRESULT SetSize(std::uint64_t size) = 0;
    virtual HRESULT Stat(std::uint64_t* size) = 0;

protected:
    ~IStream() = default;
};
FDX_DECLARE_IID(IStream, "0000000C-0000-0000-C000-000000000046");
using LPSTREAM = IStream*;

class IPersist : public IUnknown {
public:
    virtual HRESULT GetClassID(CLSID* pClassID) = 0;

protected:
    ~IPersist() = default;
};
FDX_DECLARE_IID(IPersist, "0000010C-0000-0000-C000-000000000046");

class IPersistStream : public IPersist {
public:
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT Load(IStream* pStm) = 0;
    virtual HRESULT Save(IStream* pStm, BOOL fClearDirty) = 0;
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* pcbSize) = 0;

protected:
    ~IPersistStream() = default;
};
FDX_DECLARE_IID(IPersistStream, "00000109-0000-0000-C000-000000000046");

// Global memory blocks, as exchanged through data objects.
struct GlobalBlock;
using HGLOBAL = GlobalBlock*;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_SHARE = 0x2000;
constexpr UINT GMEM_ZEROINIT = 0x0040;

HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes);
HGLOBAL GlobalFree(HGLOBAL block);  // returns null on success
std::size_t GlobalSize(HGLOBAL block);
void* GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);

// A stream over a global block that grows as it is written; the block is
// freed with the stream only when deleteOnRelease is set.
HRESULT CreateStreamOnHGlobal(HGLOBAL block, BOOL deleteOnRelease, IStream** stream);
// The block under a stream made by CreateStreamOnHGlobal or
// CreateMemoryStream; E_INVALIDARG for any other stream.
HRESULT GetHGlobalFromStream(IStream* stream, HGLOBAL* block);
#endif

// A stream's position and size, and the setting of its size.
HRESULT StreamPosition(IStream* stream, std::uint64_t& position);
HRESULT StreamSize(IStream* stream, std::uint64_t& size);
HRESULT StreamSetSize(IStream* stream, std::uint64_t size);
// Moves a stream's position `bytes` forward.
HRESULT StreamSkip(IStream* stream, std::uint64_t bytes);

// A stream over bytes in memory (a new, empty one by default).
com_ptr<IStream> CreateMemoryStream(std::vector<std::uint8_t> initial = {});
// The bytes a memory stream holds; empty for any other stream.
std::vector<std::uint8_t> MemoryStreamBytes(IStream* stream);

// A memory stream that fails every write after `limit` bytes with
// STG_E_MEDIUMFULL, as a full disk would.
com_ptr<IStream> CreateLimitedStream(std::size_t limit);
