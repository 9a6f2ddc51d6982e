#pragma once

// Key pairs and signature files made in the test, in the layout minisign
// writes, so that every kind of damage can be made on purpose.

#include <sodium.h>

#include <array>
#include <string>
#include <string_view>

#include "core/minisign.h"

namespace pelko::test {

inline std::string Base64(const unsigned char* data, std::size_t size) {
    std::string out(sodium_base64_encoded_len(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
    out.pop_back();  // the terminating zero
    return out;
}

inline minisign::FileHash HashOf(std::string_view bytes) {
    minisign::FileHash hash{};
    crypto_generichash(hash.data(), hash.size(),
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), nullptr,
                       0);
    return hash;
}

struct KeyPair {
    std::array<unsigned char, 8> id{};
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> pk{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> sk{};

    KeyPair() {
        if (sodium_init() < 0) throw std::runtime_error("libsodium");
        crypto_sign_keypair(pk.data(), sk.data());
        randombytes_buf(id.data(), id.size());
    }
    // The public key as minisign prints it.
    std::string Printed() const {
        std::array<unsigned char, 42> raw{'E', 'd'};
        std::copy(id.begin(), id.end(), raw.begin() + 2);
        std::copy(pk.begin(), pk.end(), raw.begin() + 10);
        return Base64(raw.data(), raw.size());
    }
    minisign::PublicKey Public() const { return {id, pk}; }

    std::array<unsigned char, crypto_sign_BYTES> SignBytes(std::string_view bytes) const {
        std::array<unsigned char, crypto_sign_BYTES> sig{};
        crypto_sign_detached(sig.data(), nullptr,
                             reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                             sk.data());
        return sig;
    }

    // A whole signature file for `content`: "ED" signs its hash, "Ed" the bytes.
    std::string SignatureFile(std::string_view content, std::string_view comment,
                              std::string_view algorithm = "ED") const {
        std::string signed_bytes(content);
        if (algorithm == "ED") {
            const auto hash = HashOf(content);
            signed_bytes.assign(reinterpret_cast<const char*>(hash.data()), hash.size());
        }
        const auto sig = SignBytes(signed_bytes);
        std::array<unsigned char, 74> line{};
        std::copy(algorithm.begin(), algorithm.end(), line.begin());
        std::copy(id.begin(), id.end(), line.begin() + 2);
        std::copy(sig.begin(), sig.end(), line.begin() + 10);
        const auto global =
            SignBytes(std::string(reinterpret_cast<const char*>(sig.data()), sig.size()) +
                      std::string(comment));
        return "untrusted comment: signature from minisign secret key\n" +
               Base64(line.data(), line.size()) + "\ntrusted comment: " + std::string(comment) +
               "\n" + Base64(global.data(), global.size()) + "\n";
    }
};

}  // namespace pelko::test
