// The simulated update server: the feed answer the vendor serves each day
// (releases, waves, stop orders, outages, the key that signs) and the setup
// programs it published, with the stand-in for signatures and digests.
#pragma once
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "entry/run_context.h"
#include "platform/crypto.h"
#include "scenario.h"

namespace tamsel::fleet {

// Real SHA-256 (so waves fall as on real machines); signatures are tags of
// key and digest, which only this simulated vendor makes. Verification cost
// is not what is measured here.
class SimCrypto final : public Crypto {
public:
    static Sha256Digest sha256(std::string_view bytes) {
        Sha256Digest digest{};
        unsigned int size = 0;
        EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr);
        return digest;
    }
    static EcdsaSignature tag(const EcPublicKeyBytes& key, const Sha256Digest& digest) {
        std::string both(reinterpret_cast<const char*>(key.data()), key.size());
        both.append(reinterpret_cast<const char*>(digest.data()), digest.size());
        const Sha256Digest a = sha256(both);
        const Sha256Digest b = sha256(both + "second half");
        EcdsaSignature signature{};
        std::copy(a.begin(), a.end(), signature.begin());
        std::copy(b.begin(), b.end(), signature.begin() + 32);
        return signature;
    }

    std::unique_ptr<Sha256Digester> begin_sha256() override { return std::make_unique<Digester>(); }
    std::unique_ptr<EcdsaP256Verifier> open_ecdsa_p256() override { return std::make_unique<Verifier>(); }

private:
    struct Digester final : Sha256Digester {
        std::string bytes;
        bool add(const void* data, std::size_t size) override {
            bytes.append(static_cast<const char*>(data), size);
            return true;
        }
        std::optional<Sha256Digest> finish() override { return sha256(bytes); }
    };
    struct Verifier final : EcdsaP256Verifier {
        bool verify(const EcPublicKeyBytes& key, const Sha256Digest& digest, const EcdsaSignature& signature) override {
            return tag(key, digest) == signature;
        }
    };
};

// The three numbers of a version text "a.b.c".
std::array<std::uint16_t, 3> version_numbers(const std::string& version);
// The bytes of the vendor's setup program of a version.
std::string setup_bytes(const std::string& version);

// The vendor: the feed answer it serves each day and the setups it published.
class Vendor {
public:
    Vendor(const Scenario& scenario, const RunContext& context) : scenario_(scenario), context_(context) {
        for (const Release& release : scenario.releases) {
            const std::string bytes = setup_bytes(release.version);
            version_of_setup_[bytes] = release.version;
            setups_[setup_url(release.version)] = bytes;
        }
        version_of_setup_[setup_bytes(scenario.installed)] = scenario.installed;
        for (int day = 0; day < scenario.days; ++day) answers_.push_back(make_answer(day, nullptr));
        if (scenario.withdraw_at) {
            // The newest release published by then is withdrawn from then on.
            const Release* newest = nullptr;
            for (const Release& release : scenario.releases)
                if (release.day <= *scenario.withdraw_at / 86400) newest = &release;
            for (int day = 0; day < scenario.days; ++day)
                withdrawn_answers_.push_back(make_answer(day, newest ? &newest->version : nullptr));
        }
    }

    // Nothing during an outage. `since_start`: seconds after day 0 began.
    const std::optional<std::string>& answer(int day) const { return answers_.at(static_cast<std::size_t>(day)); }
    const std::optional<std::string>& answer(int day, std::int64_t since_start) const {
        const bool withdrawn = scenario_.withdraw_at && since_start >= *scenario_.withdraw_at;
        return (withdrawn ? withdrawn_answers_ : answers_).at(static_cast<std::size_t>(day));
    }
    // Where the feed asks clients to report their installations' outcomes.
    std::string report_prefix() const {
        return context_.files_prefix.substr(0, context_.files_prefix.rfind("files/")) + "report/";
    }
    const std::map<std::string, std::string>& setups() const { return setups_; }
    // The version a setup program's bytes install, when the vendor made it.
    const std::string* version_of(const std::string& bytes) const {
        const auto it = version_of_setup_.find(bytes);
        return it == version_of_setup_.end() ? nullptr : &it->second;
    }
    bool is_bad(const std::string& version) const {
        return std::any_of(scenario_.releases.begin(), scenario_.releases.end(),
                           [&](const Release& r) { return r.version == version && r.bad; });
    }
    std::string setup_url(const std::string& version) const {
        return context_.files_prefix + "Tamsel-" + version + "-setup.exe";
    }

private:
    std::optional<std::string> make_answer(int day, const std::string* withdrawn) const;

    const Scenario& scenario_;
    const RunContext& context_;
    std::vector<std::optional<std::string>> answers_;
    std::vector<std::optional<std::string>> withdrawn_answers_;
    std::map<std::string, std::string> setups_;
    std::map<std::string, std::string> version_of_setup_;
};

}  // namespace tamsel::fleet
