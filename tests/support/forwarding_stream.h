// A stream that is no memory block: it forwards every call to another
// stream, so that code with a shortcut for memory blocks has to take the
// ordinary way. Lives on the stack; reference counts are not kept.
#pragma once

#include "platform/stream.h"

class CForwardingStream final : public IStream {
public:
    explicit CForwardingStream(IStream* inner) : m_inner(inner) {}
    HRESULT QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override { return m_inner->Read(pv, cb, pcbRead); }
    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override { return m_inner->Write(pv, cb, pcbWritten); }
    HRESULT Seek(std::int64_t move, DWORD origin, std::uint64_t* position) override
    {
        return m_inner->Seek(move, origin, position);
    }
    HRESULT SetSize(std::uint64_t size) override { return m_inner->SetSize(size); }
    HRESULT Stat(std::uint64_t* size) override { return m_inner->Stat(size); }

private:
    IStream* m_inner;
};
