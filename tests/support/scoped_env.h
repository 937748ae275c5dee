// Sets an environment variable for as long as the object lives, then puts
// back what was there before (or removes it).
#pragma once

#include <string>

class CScopedEnv {
public:
    CScopedEnv(std::string name, const std::string& value);
    ~CScopedEnv();
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

private:
    std::string m_strName;
    std::string m_strPrevious;
    bool m_bHadPrevious = false;
};
