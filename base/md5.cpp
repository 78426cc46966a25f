#include "base/md5.h"

#include <openssl/evp.h>

namespace vokar {

Md5Digest md5(std::string_view data)
{
    Md5Digest out{};
    unsigned int len = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_md5(), nullptr);
    return out;
}

std::string to_hex(const Md5Digest& digest)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out(32, '0');
    for (size_t i = 0; i < digest.size(); ++i) {
        out[2 * i] = kHex[digest[i] >> 4];
        out[2 * i + 1] = kHex[digest[i] & 0x0F];
    }
    return out;
}

std::string md5_hex(std::string_view data)
{
    return to_hex(md5(data));
}

} // namespace vokar
