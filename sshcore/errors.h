// The one error the SSH foundation raises. Each engine turns it into its own
// result code at the point where it calls the foundation.
#pragma once

#include <stdexcept>

namespace sshcore {

enum class ECoreError {
    Internal,  // a primitive failed on good input (memory, library state)
    Corrupt,   // the peer's data does not decode, or decodes too large
};

class CCoreError : public std::runtime_error {
public:
    explicit CCoreError(ECoreError kind)
        : std::runtime_error(kind == ECoreError::Corrupt ? "corrupt data" : "internal error"), m_eKind(kind)
    {
    }
    ECoreError Kind() const { return m_eKind; }

private:
    ECoreError m_eKind;
};

}  // namespace sshcore
