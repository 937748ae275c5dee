// One zlib stream as SSH compression runs it: a deflate stream that ends
// every packet with a partial flush, or an inflate stream that ends every
// packet with a sync flush. The stream lives as long as the session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace sshcore {

enum class EZlibStatus {
    Ok,
    Corrupt,   // the inflate stream is damaged
    TooLarge,  // the inflated packet would pass its limit
    Failed,    // zlib refused (out of memory, or a call in the wrong state)
};

class CZlibStream {
public:
    // Compression levels for SetLevel.
    static constexpr int kStored = 0;
    static constexpr int kDefaultLevel = -1;

    // Raises std::bad_alloc, or std::runtime_error when zlib cannot start.
    explicit CZlibStream(bool deflate);
    ~CZlibStream();
    CZlibStream(const CZlibStream&) = delete;
    CZlibStream& operator=(const CZlibStream&) = delete;

    bool Deflating() const { return m_bDeflate; }
    // Deflate: compresses all of data and flushes, appending to out.
    // Inflate: appends what data inflates to, at most `limit` bytes in all.
    EZlibStatus Run(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out,
                    std::size_t limit = SIZE_MAX);
    // Deflate only: the level of what follows; appends what the switch
    // flushes of the open block.
    EZlibStatus SetLevel(int level, std::vector<std::uint8_t>& out);
    // Deflate only: bits the stream holds that are not yet written out.
    std::size_t PendingBits() const;
    // Bytes handed to Run so far.
    std::uint64_t TotalIn() const { return m_nTotalIn; }

private:
    struct State;
    std::unique_ptr<State> m_pState;
    bool m_bDeflate;
    std::uint64_t m_nTotalIn = 0;
};

// One whole buffer as one complete zlib stream (header, deflate data and
// checksum), appended to out.
EZlibStatus DeflateWhole(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out,
                         int level = CZlibStream::kDefaultLevel);
// Inflates one complete zlib stream, appending to out: Ok only when the
// stream ends exactly where data does and its checksum matches; TooLarge as
// soon as it would produce more than `limit` bytes (nothing past the limit
// is ever held); Corrupt for a damaged or cut stream.
EZlibStatus InflateWhole(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out, std::size_t limit);

}  // namespace sshcore
