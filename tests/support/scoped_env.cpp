#include "tests/support/scoped_env.h"

#include <cstdlib>

CScopedEnv::CScopedEnv(std::string name, const std::string& value) : m_strName(std::move(name))
{
    if (const char* previous = std::getenv(m_strName.c_str())) {
        m_strPrevious = previous;
        m_bHadPrevious = true;
    }
    ::setenv(m_strName.c_str(), value.c_str(), 1);
}

CScopedEnv::~CScopedEnv()
{
    if (m_bHadPrevious)
        ::setenv(m_strName.c_str(), m_strPrevious.c_str(), 1);
    else
        ::unsetenv(m_strName.c_str());
}
