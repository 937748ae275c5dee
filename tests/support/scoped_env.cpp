#include "tests/support/scoped_env.h"

#include <cstdlib>

CScopedEnv::CScopedEnv(std::string name, const char* value) : m_strName(std::move(name))
{
    if (const char* previous = std::getenv(m_strName.c_str())) {
        m_strPrevious = previous;
        m_bHadPrevious = true;
    }
    if (value != nullptr)
        ::setenv(m_strName.c_str(), value, 1);
    else
        ::unsetenv(m_strName.c_str());
}

CScopedEnv::~CScopedEnv()
{
    if (m_bHadPrevious)
        ::setenv(m_strName.c_str(), m_strPrevious.c_str(), 1);
    else
        ::unsetenv(m_strName.c_str());
}
