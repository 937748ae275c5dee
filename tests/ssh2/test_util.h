// Helpers more than one of the SSH-2 test files needs.
#pragma once

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

// n bytes that differ from each other and from another seed's.
inline std::vector<std::uint8_t> Pattern(std::size_t n, std::uint8_t seed)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + 31 * i);
    return v;
}

inline std::vector<std::uint8_t> FromHex(std::string_view hex)
{
    std::vector<std::uint8_t> v;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        v.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return v;
}

inline std::string Base64(std::span<const std::uint8_t> bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

inline std::string Hex(std::span<const std::uint8_t> bytes)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (auto b : bytes) s += {d[b >> 4], d[b & 15]};
    return s;
}

// A test name from a tuple of algorithm names: joined with '_', and every
// character GoogleTest does not allow in a name made '_'.
struct AlgorithmsName {
    template <class... T>
    std::string operator()(const ::testing::TestParamInfo<std::tuple<T...>>& info) const
    {
        std::string name;
        std::apply([&](const auto&... part) { ((name += (name.empty() ? "" : "_") + std::string(part)), ...); },
                   info.param);
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    }
};
