// Sets an environment variable (removes it, for a null value) for as long as
// the object lives, then puts back what was there before (or removes it).
#pragma once

#include <string>
#include <utility>

class CScopedEnv {
public:
    CScopedEnv(std::string name, const char* value);
    CScopedEnv(std::string name, const std::string& value) : CScopedEnv(std::move(name), value.c_str()) {}
    ~CScopedEnv();
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

private:
    std::string m_strName;
    std::string m_strPrevious;
    bool m_bHadPrevious = false;
};
