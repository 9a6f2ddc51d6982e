#pragma once

// Signature files made here with a key of the fuzz targets' own, so that
// the targets can check what a good signature must give and what any
// change to it must not.

#include <sodium.h>

#include <array>
#include <string>
#include <string_view>

#include "core/minisign.h"
#include "fuzz_support.h"

namespace pelko::fuzz {

struct FuzzKey {
    minisign::PublicKey public_key;
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secret{};
};

// Made from a fixed seed: the same key in every run, so that saved inputs replay.
inline const FuzzKey& TheKey() {
    static const FuzzKey key = [] {
        if (sodium_init() < 0) Fail("libsodium does not start", __FILE__, __LINE__);
        FuzzKey k;
        std::array<unsigned char, crypto_sign_SEEDBYTES> seed{};
        seed.fill(0x5a);
        crypto_sign_seed_keypair(k.public_key.key.data(), k.secret.data(), seed.data());
        k.public_key.id = {1, 2, 3, 4, 5, 6, 7, 8};
        return k;
    }();
    return key;
}

inline std::string Base64(const unsigned char* bytes, std::size_t size) {
    std::string out(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
    out.resize(out.size() - 1);  // the terminator
    return out;
}

inline std::string EncodeKey(const minisign::PublicKey& key) {
    std::array<unsigned char, 42> raw{'E', 'd'};
    std::copy(key.id.begin(), key.id.end(), raw.begin() + 2);
    std::copy(key.key.begin(), key.key.end(), raw.begin() + 10);
    return Base64(raw.data(), raw.size());
}

// A signature file as minisign writes it, for the given hash and comments.
// `legacy` signs the way the old format did ("Ed"); `eol` ends each line.
inline std::string SignatureFile(const minisign::FileHash& hash, std::string_view untrusted,
                                 std::string_view trusted, bool legacy = false,
                                 std::string_view eol = "\n") {
    const FuzzKey& key = TheKey();
    std::array<unsigned char, 74> line2{'E', static_cast<unsigned char>(legacy ? 'd' : 'D')};
    std::copy(key.public_key.id.begin(), key.public_key.id.end(), line2.begin() + 2);
    crypto_sign_detached(line2.data() + 10, nullptr, hash.data(), hash.size(), key.secret.data());
    std::string covered(reinterpret_cast<const char*>(line2.data() + 10), 64);
    covered += trusted;
    std::array<unsigned char, 64> global{};
    crypto_sign_detached(global.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(covered.data()), covered.size(),
                         key.secret.data());
    return "untrusted comment: " + std::string(untrusted) + std::string(eol) +
           Base64(line2.data(), line2.size()) + std::string(eol) +
           "trusted comment: " + std::string(trusted) + std::string(eol) +
           Base64(global.data(), global.size()) + std::string(eol);
}

}  // namespace pelko::fuzz
